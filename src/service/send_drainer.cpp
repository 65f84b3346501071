#include "service/send_drainer.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "net/blocking_send.h"
#include "platform/text_utils.h"
#include "service/mail_worker.h"
#include "service/workers.h"
#include "state/client_socket.h"

namespace qv::service {
namespace {

constexpr auto kCreateRetryPause = std::chrono::milliseconds(10);

// Ends the drain after a failure: nothing more is sent to the user until it reconnects.
void FaultUser(TMyNameUser& user) {
  user.Fault = true;
  user.Queue.Drop();
  NotifySendTurn(user);
}

uint32_t DrainBody(Server& server, TMyNameUser& user, uint64_t generation,
                   platform::WorkerThread& self) {
  const auto stopped = [&self, &user, generation] {
    return self.StopRequested() || !user.Queue.Current(generation);
  };
  const SendControl control{server.timeouts, {}, stopped};
  QueuedPiece piece;
  try {
    while (user.Queue.Take(generation, piece)) {
      // Recorded only while the queue is this drainer's: a session start drops the queue before
      // it zeroes the user's send sequence, so nothing stale lands on the new session.
      if (self.StopRequested() ||
          !user.Queue.IfCurrent(generation, [&] { user.SendStarted = piece.sequence; })) {
        return 0;
      }
      NotifySendTurn(user);
      if (piece.kind == QueuedPiece::Kind::MailDelivery) {
        DeliverOnSocket(server, user, control);
        if (stopped()) return 0;
        if (user.Fault) {
          FaultUser(user);  // the delivery failed: what waits behind it goes too
          return 0;
        }
      } else {
        if (user.Fault || !user.ClientSocket) {
          FaultUser(user);  // at fault since it was queued: nothing more goes to this user
          return 0;
        }
        const int result =
            BlockingBufferSend(*user.ClientSocket, piece.bytes->data() + piece.offset,
                               static_cast<int>(piece.length), control);
        piece.bytes.reset();
        if (stopped()) return 0;
        if (result < 0) {
          if (result == kSendTimedOut && user.Connected) server.log.Write(kErrorOfSendProcess);
          if (result == kSendDisconnected && user.Connected) server.log.Write(kResetSendProcess);
          FaultUser(user);
          return 0;
        }
      }
      if (!user.Queue.IfCurrent(generation, [&] { user.SendCompleted = piece.sequence; })) return 0;
      NotifySendTurn(user);
    }
  } catch (...) {
    if (!stopped()) {
      server.log.WriteMsg(wire::MsgId::DataSendError, user.HostName);
      FaultUser(user);
    }
  }
  return 0;
}

std::shared_ptr<platform::WorkerThread> CreateDrainer(Server& server, TMyNameUser& user,
                                                      uint64_t generation) {
  auto thread = platform::WorkerThread::Start(
      server.sendThreads, [&server, &user, generation](platform::WorkerThread& self) {
        return DrainBody(server, user, generation, self);
      });
  thread->SetInterruptHook([&user] { NotifySendTurn(user); });
  return thread;
}

void StartDrainer(Server& server, TMyNameUser& user, uint64_t generation) {
  std::shared_ptr<platform::WorkerThread> thread;
  try {
    try {
      thread = CreateDrainer(server, user, generation);
    } catch (const std::system_error&) {
      std::this_thread::sleep_for(kCreateRetryPause);
      thread = CreateDrainer(server, user, generation);
    }
  } catch (const std::system_error& e) {
    FaultUser(user);
    server.log.Write("Error CreateThread.\r\n" + platform::SystemErrorText(e.code().value()));
    return;
  }
  std::lock_guard sendLock(server.sendLock);
  try {
    user.Workers.push_back(WorkerEntry{thread, user.SendIssued, kWorkerKindSend});
  } catch (...) {
    server.reaper.Add(thread);  // not in the table: still never waited for here
  }
  user.WorkerCount = static_cast<int32_t>(user.Workers.size());
}

}  // namespace

std::string QueueLimitText(const TMyNameUser& user, size_t limit) {
  return std::string(kErrorOfSendProcess) + " - " + user.UserName + " (" + user.HostName +
         "): more than " + std::to_string(limit) + " bytes waiting";
}

SharedBytes ShareBytes(SendBuffers& buffers, std::vector<uint8_t> bytes) {
  auto* held = new std::vector<uint8_t>(std::move(bytes));
  try {
    return SharedBytes(held, [&buffers](const std::vector<uint8_t>* released) {
      std::unique_ptr<std::vector<uint8_t>> own(const_cast<std::vector<uint8_t>*>(released));
      try {
        buffers.Give(std::move(*own));
      } catch (...) {
      }
    });
  } catch (...) {
    delete held;
    throw;
  }
}

void QueuePiece(Server& server, TMyNameUser& user, QueuedPiece piece) {
  try {
    const int32_t sequence = user.SendIssued + 1;
    piece.sequence = sequence;
    uint64_t generation = 0;
    const SendQueue::Added added =
        user.Queue.Add(std::move(piece), server.limits.sendQueueBytes, generation);
    if (added == SendQueue::Added::OverCap) {
      FaultUser(user);
      server.log.Write(QueueLimitText(user, server.limits.sendQueueBytes));
      return;
    }
    user.SendIssued = sequence;
    Metrics::Max(server.metrics.sendQueueBytesMax, static_cast<int64_t>(user.Queue.Bytes()));
    if (added == SendQueue::Added::QueuedStartDrainer) StartDrainer(server, user, generation);
  } catch (...) {
    FaultUser(user);
    server.log.WriteMsg(wire::MsgId::SendProcessCreateError, user.HostName);
  }
}

}  // namespace qv::service
