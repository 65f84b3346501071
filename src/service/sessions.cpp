#include "service/sessions.h"

#include <chrono>
#include <cstring>

#include "net/user_lookup.h"
#include "platform/files.h"
#include "service/outbox.h"
#include "service/reply_sender.h"
#include "state/client_socket.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::service {
namespace {

bool SlotInTable(const state::Server& server, const state::TMyNameUser& user) {
  return user.StatusSlotPos >= 4 &&
         static_cast<size_t>(user.StatusSlotPos) + wire::status_slot::kSize <=
             server.roster.statusTable.size();
}

void SetOnline(state::Server& server, state::TMyNameUser& user, int32_t online) {
  if (SlotInTable(server, user))
    wire::StoreField<int32_t>(server.roster.statusTable.data() + user.StatusSlotPos, online);
}

void BroadcastSlot(state::Server& server, state::TMyNameUser& user) {
  if (!SlotInTable(server, user)) return;
  uint8_t package[wire::status_slot::kPackageSize];
  wire::StoreField<int32_t>(package, wire::code::kReply);
  wire::StoreField<int32_t>(package + 4, wire::subcode::kStatusSlot);
  std::memcpy(package + 8, server.roster.statusTable.data() + user.StatusSlotPos,
              wire::status_slot::kSize);
  SendReplyPackage(server, user, package, wire::status_slot::kPackageSize, user.HostName,
                   kScopeEverybody);
}

state::TMyDBUser& GroupOf(state::Server& server, const state::TMyNameUser& user) {
  return server.roster.groups.at(static_cast<size_t>(user.GroupIndex));
}

void AnnounceWaitingMail(state::Server& server, state::TMyNameUser& user) {
  // The size alone tells whether mail waits; it is read without opening the file, so the event
  // thread never waits for a delivery that holds the mailbox open.
  const bool waiting = platform::FileSize(server.MailboxPath(user.HostName)) > 0;
  if (waiting) {
    uint8_t package[4];
    wire::StoreField<int32_t>(package, wire::code::kMailWaiting);
    SendReplyPackage(server, user, package, 4, user.HostName, kScopeUser);
  }
}

int32_t SessionEnd(state::Server& server, state::TMyNameUser* user, bool outgoing) {
  if (user == nullptr) {
    server.runtime.log.WriteMsg(wire::MsgId::UnidentifiedUserDelete);
    return -1;
  }
  const int32_t incomingHandle = user->ServerSocketHandle;
  if (!outgoing) user->ServerSocketHandle = -1;
  {
    std::lock_guard sessionLock(server.runtime.sessionLock);
    if (!user->Connected) return -1;
    user->Connected = false;
  }
  // Close the other side; its disconnect event finds the session ended.
  try {
    if (outgoing) {
      if (server.runtime.connections != nullptr) {
        server.runtime.connections->CloseIncoming(incomingHandle);
      }
    } else if (user->ClientSocket) {
      user->ClientSocket->Close();
    }
  } catch (...) {
    server.runtime.boundaryErrors.Report("Session");
  }
  state::TMyDBUser& group = GroupOf(server, *user);
  --group.ConnectedUsers;
  for (int32_t count = server.roster.sessionCount; count > 0;) {
    if (server.roster.sessionCount.compare_exchange_weak(count, count - 1)) break;
  }
  user->ReconnectCount = 0;
  SetOnline(server, *user, 0);
  BroadcastSlot(server, *user);
  ShowConnections(server);
  for (size_t i = group.Subscriptions.size(); i-- > 0;) {
    if (group.Subscriptions[i].Owner == user) {
      group.Subscriptions.erase(group.Subscriptions.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return user->GroupIndex;
}

}  // namespace

void ShowConnections(state::Server& server) {
  try {
    server.runtime.front.SetConnectionsCaption(
        server.setup.catalogue[wire::MsgId::ConnectionsCaption] +
        std::to_string(server.roster.sessionCount.load()));
  } catch (...) {
    server.runtime.boundaryErrors.Report("Session");
  }
}

int32_t SessionStart(state::Server& server, state::TMyNameUser& user) {
  state::TMyDBUser& group = GroupOf(server, user);
  // Whatever still waited for the previous session is not this session's; the fault is cleared
  // and the send counts start again.
  OutboxOf(server, user).Restart();
  ++group.ConnectedUsers;
  ++server.roster.sessionCount;
  user.SessionStartMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  user.Connected = true;
  user.ReconnectCount = 0;
  SetOnline(server, user, 1);
  SendReplyPackage(server, user, server.roster.statusTable.data(),
                   static_cast<int32_t>(server.roster.statusTable.size()), user.HostName,
                   kScopeUser);
  BroadcastSlot(server, user);
  ShowConnections(server);
  AnnounceWaitingMail(server, user);
  return user.GroupIndex;
}

int32_t SessionEndOutgoing(state::Server& server, const platform::TcpClient& socket) {
  return SessionEnd(server, net::UserByOutgoingSocket(server, socket), true);
}

int32_t SessionEndIncoming(state::Server& server, int32_t incomingHandle) {
  if (incomingHandle == -1) return -1;
  return SessionEnd(server, net::UserByIncomingHandle(server, incomingHandle), false);
}

}  // namespace qv::service
