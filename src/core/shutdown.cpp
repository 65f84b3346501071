#include "core/shutdown.h"

#include "core/journal_flush.h"
#include "service/outbox.h"

namespace qv::core {

void RunShutdown(state::Server& server) {
  for (state::TMyDBUser& group : server.roster.groups) {
    try {
      group.Subscriptions.clear();
      group.PollOwner = nullptr;
    } catch (...) {
      server.runtime.boundaryErrors.Report("Shutdown");
    }
    for (state::TMyNameUser& user : group.Users) {
      try {
        if (service::Outbox* outbox = service::ExistingOutbox(user))
          outbox->Drop();  // deliveries under way tidy their mailboxes
      } catch (...) {
        server.runtime.boundaryErrors.Report("Shutdown");
      }
    }
  }
  // Notices of stored messages that waited for a busy mailbox are appended before the stop.
  server.threads.mailboxJobs.Finish();
  // The datafiles alone hold every change; the next start finds the journals empty.
  FlushAllJournals(server);
}

}  // namespace qv::core
