#include "core/shutdown.h"

#include "core/journal_flush.h"
#include "service/workers.h"

namespace qv {

void RunShutdown(Server& server) {
  for (TMyDBUser& group : server.groups) {
    try {
      group.Subscriptions.clear();
      group.PollOwner = nullptr;
    } catch (...) {
      server.boundaryErrors.Report("Shutdown");
    }
    for (TMyNameUser& user : group.Users) {
      try {
        service::TerminateWorkers(server, user, service::kWorkerKindSend);
        service::ReapWorkers(server, user, true);
      } catch (...) {
        server.boundaryErrors.Report("Shutdown");
      }
    }
  }
  // The datafiles alone hold every change; the next start finds the journals empty.
  FlushAllJournals(server);
}

}  // namespace qv
