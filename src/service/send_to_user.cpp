#include "service/send_to_user.h"

#include <algorithm>

#include "net/blocking_send.h"
#include "platform/system_error.h"
#include "platform/time.h"
#include "service/send_drainer.h"
#include "service/workers.h"
#include "state/client_socket.h"

namespace qv::service {
namespace {

// Steps 1-3 of a send: the reap of finished workers, the send time, and the immediate attempt
// when nothing waits before this piece. The bytes that left at once, or -1 when the user is now
// at fault.
int32_t SendDirect(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  // Without the send lock: a user with an empty worker table (the common case) costs one load.
  if (user.WorkerCount.load() > 0 && user.SendStarted == user.SendCompleted) {
    ReapWorkers(server, user, false);
  }
  user.LastSendTick = platform::TickCount();
  if (!server.settings.DirectSend || !SendingIdle(user)) return 0;
  std::error_code error;
  const int result =
      SocketSend(*user.ClientSocket, data, std::min<int32_t>(length, kSendPieceSize), error);
  if ((error && !platform::IsWouldBlock(error)) || !user.ClientSocket->Connected()) {
    user.Fault = true;
    return -1;
  }
  return std::max(result, 0);
}

bool Sendable(const TMyNameUser& user) {
  return user.Connected && !user.Fault && user.ClientSocket;
}

// Behind an acknowledgment that waits for its journal sync, a piece waits too, in order.
bool HoldIfBehindAck(TMyNameUser& user, const uint8_t* data, int32_t length) {
  if (user.Held.empty()) return false;
  user.Held.push_back(HeldPiece{0, std::vector<uint8_t>(data, data + length), false});
  return true;
}

// The piece as it is: at once when it can, else into the user's queue (one copy for every
// user that gets the same bytes, made by the first whose piece has to wait).
void SendUnheld(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length,
                SharedBytes& shared) {
  const int32_t sent = SendDirect(server, user, data, length);
  if (sent < 0 || sent == length) return;
  if (!shared) {
    try {
      std::vector<uint8_t> copy = server.sendBuffers.Take(static_cast<size_t>(length));
      copy.assign(data, data + length);
      shared = ShareBytes(server.sendBuffers, std::move(copy));
    } catch (...) {
      user.Fault = true;
      user.Queue.Drop();
      server.log.Write("Create Stream. Error!");
      return;
    }
  }
  if (shared->size() != static_cast<size_t>(length)) return;  // not these bytes: never sent
  QueuedPiece piece;
  piece.bytes = shared;
  piece.offset = static_cast<size_t>(sent);
  piece.length = static_cast<size_t>(length - sent);
  QueuePiece(server, user, std::move(piece));
}

}  // namespace

bool SendingIdle(const TMyNameUser& user) {
  const int32_t issued = user.SendIssued;
  return issued == user.SendStarted && issued == user.SendCompleted;
}

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  SharedBytes shared;
  SendToUser(server, user, data, length, shared);
}

void SendToUserNow(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  if (!Sendable(user) || length <= 0) return;
  SharedBytes shared;
  SendUnheld(server, user, data, length, shared);
}

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length,
                SharedBytes& shared) {
  if (!Sendable(user) || length <= 0) return;
  if (HoldIfBehindAck(user, data, length)) return;
  SendUnheld(server, user, data, length, shared);
}

void SendToUser(Server& server, TMyNameUser& user, const SharedBytes& bytes) {
  if (!bytes || bytes->empty() || bytes->size() > INT32_MAX || !Sendable(user)) return;
  const int32_t length = static_cast<int32_t>(bytes->size());
  if (HoldIfBehindAck(user, bytes->data(), length)) return;
  const int32_t sent = SendDirect(server, user, bytes->data(), length);
  if (sent < 0 || sent == length) return;
  QueuedPiece piece;
  piece.bytes = bytes;
  piece.offset = static_cast<size_t>(sent);
  piece.length = static_cast<size_t>(length - sent);
  QueuePiece(server, user, std::move(piece));
}

void QueueMailDelivery(Server& server, TMyNameUser& user) {
  if (!Sendable(user)) return;
  if (!user.Held.empty()) {
    user.Held.push_back(HeldPiece{0, {}, true});
    return;
  }
  QueueMailDeliveryNow(server, user);
}

void QueueMailDeliveryNow(Server& server, TMyNameUser& user) {
  if (!Sendable(user)) return;
  if (user.WorkerCount.load() > 0 && SendingIdle(user)) ReapWorkers(server, user, false);
  user.LastSendTick = platform::TickCount();
  QueuedPiece piece;
  piece.kind = QueuedPiece::Kind::MailDelivery;
  QueuePiece(server, user, std::move(piece));
}

}  // namespace qv::service
