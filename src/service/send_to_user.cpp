#include "service/send_to_user.h"

#include <algorithm>

#include "net/client_socket.h"
#include "platform/socket_errors.h"
#include "platform/time.h"
#include "service/blocking_send.h"
#include "service/send_drainer.h"
#include "service/workers.h"

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
  int error = 0;
  const int result =
      SocketSend(*user.ClientSocket, data, std::min<int32_t>(length, kSendPieceSize), error);
  if ((error != 0 && error != platform::kWsaWouldBlock) || !user.ClientSocket->Connected()) {
    user.Fault = true;
    return -1;
  }
  return std::max(result, 0);
}

bool Sendable(const TMyNameUser& user) {
  return user.Connected && !user.Fault && user.ClientSocket;
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

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length,
                SharedBytes& shared) {
  if (!Sendable(user) || length <= 0) return;
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

void SendToUser(Server& server, TMyNameUser& user, const SharedBytes& bytes) {
  if (!bytes || bytes->empty() || bytes->size() > INT32_MAX || !Sendable(user)) return;
  const int32_t length = static_cast<int32_t>(bytes->size());
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
  if (user.WorkerCount.load() > 0 && SendingIdle(user)) ReapWorkers(server, user, false);
  user.LastSendTick = platform::TickCount();
  QueuedPiece piece;
  piece.kind = QueuedPiece::Kind::MailDelivery;
  QueuePiece(server, user, std::move(piece));
}

}  // namespace qv::service
