#pragma once
// What the daemon does with a signal: SIGHUP re-opens debug.log (after log rotation) and the
// server goes on; SIGINT and SIGTERM stop it. Either way one line is logged.
#include "state/server.h"

namespace qv::core {

// Logs the signal's line and acts on it; true when the server should stop.
bool HandleDaemonSignal(state::Server& server, int signalNumber);

}  // namespace qv::core
