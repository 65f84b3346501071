#pragma once
#include "state/server.h"

namespace qv::core {

constexpr int kHousekeepingIntervalMs = 300;

// One tick of the main window's timer: the walk over all users, then the log flush.
void HousekeepingTick(state::Server& server);

}  // namespace qv::core
