#pragma once
// Errors caught where a timer tick, event handler or thread ends and nothing above it could
// handle them. Each kind (place and exception type) is logged once, so that a fault repeating at
// every tick does not flood the log. Callable from any thread.
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "wire/messages.h"

namespace qv::state {

class BoundaryErrors {
 public:
  explicit BoundaryErrors(wire::LogSink& log) : log_(log) {}

  // Call from inside a catch block: logs "<where>: <what>" the first time this kind is seen.
  void Report(std::string_view where) noexcept;

 private:
  wire::LogSink& log_;
  std::mutex mutex_;
  std::set<std::string> seen_;  // "<where>|<type>"; guarded by mutex_
};

}  // namespace qv::state
