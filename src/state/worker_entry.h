#pragma once
// One entry of a user's worker table: a send or mail worker thread in the user's send order.
#include <cstdint>
#include <memory>

#include "platform/thread.h"

namespace qv::service {

struct WorkerEntry {
  std::shared_ptr<platform::WorkerThread> Handle;  // empty once reaped
  int32_t Sequence = 0;
  int32_t Kind = 1;
};

}  // namespace qv::service
