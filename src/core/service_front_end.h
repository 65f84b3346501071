#pragma once
// The daemon's face under a service manager: log lines on standard output (with their journal
// priority when standard output is the journal), and the connection count as the service's
// status line (STATUS=) whenever it changes.
#include <cstdio>
#include <mutex>
#include <string>

#include "core/console_front_end.h"
#include "state/front_end.h"

namespace qv::core {

class ServiceFrontEnd final : public state::FrontEnd {
 public:
  ServiceFrontEnd(std::FILE* out, bool journal) : view_(out, journal) {}
  state::LogView& View() override { return view_; }
  bool CreatesMissingDatafiles() const override { return true; }
  // "Connections: N", called from any thread: sent as STATUS= when it differs from the last.
  void SetConnectionsCaption(const std::string& text) override;

 private:
  ConsoleLogView view_;
  std::mutex statusLock_;
  std::string lastStatus_;  // guarded by statusLock_
};

}  // namespace qv::core
