#include "core/daemon_signals.h"

#include <signal.h>

#include <string>

namespace qv::core {

bool HandleDaemonSignal(state::Server& server, int signalNumber) {
  if (signalNumber == SIGHUP) {
    if (!server.runtime.log.Debug()) {
      server.runtime.log.Write("SIGHUP received: debug mode is off, no debug.log to re-open");
    } else if (server.runtime.log.ReopenDebugFile()) {
      server.runtime.log.Write("SIGHUP received: debug.log re-opened");
    } else {
      server.runtime.log.Write("SIGHUP received: debug.log could not be re-opened: " +
                               server.DebugLogPath());
    }
    return false;
  }
  const char* name = signalNumber == SIGINT ? "SIGINT" : signalNumber == SIGTERM ? "SIGTERM" : "";
  server.runtime.log.Write(std::string("Stopped by signal ") +
                           (*name != '\0' ? name : std::to_string(signalNumber).c_str()));
  return true;
}

}  // namespace qv::core
