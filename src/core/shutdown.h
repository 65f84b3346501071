#pragma once
#include "state/server.h"

namespace qv::core {

// After the event loop has ended: releases the groups' subscription lists and ends every
// user's remaining worker threads.
void RunShutdown(state::Server& server);

}  // namespace qv::core
