#include "core/housekeeping.h"

#include <cstring>

#include "platform/close_quietly.h"
#include "platform/time.h"
#include "service/send_to_user.h"
#include "state/client_socket.h"

namespace qv::core {
namespace {

void ResetFaultyUser(state::TMyNameUser& user) {
  // Closing a connected socket raises its disconnect event, which ends the session at once.
  if (user.ClientSocket) platform::CloseQuietly(*user.ClientSocket);
  if (service::Outbox* outbox = service::ExistingOutbox(user)) outbox->Drop();
  user.Fault = user.Connected.load();
}

void SendKeepAlive(state::Server& server, state::TMyNameUser& user, uint32_t now) {
  const int32_t interval = server.setup.settings.CheckIntervalMs;
  if (interval == 0 || !service::SendingIdle(server, user)) return;
  if (platform::TickDiff(now, user.LastSendTick) <= interval) return;
  const uint8_t emptyFrame[4] = {0, 0, 0, 0};
  service::SendToUser(server, user, emptyFrame, sizeof emptyFrame);
}

}  // namespace

void HousekeepingTick(state::Server& server) {
  const uint32_t now = platform::TickCount();
  try {
    for (state::TMyDBUser& group : server.roster.groups) {
      for (state::TMyNameUser& user : group.Users) {
        if (user.Fault) ResetFaultyUser(user);
        if (user.Connected) {
          // A socket that took nothing for the send time-out faults its user (reset next tick).
          if (service::Outbox* outbox = service::ExistingOutbox(user)) outbox->CheckStall(now);
          SendKeepAlive(server, user, now);
        }
      }
    }
  } catch (...) {
    server.runtime.boundaryErrors.Report("Housekeeping");
  }
  server.runtime.log.Flush(server.runtime.front.View());
}

}  // namespace qv::core
