#include "service/send_to_user.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "net/blocking_send.h"
#include "platform/socket_errors.h"
#include "platform/time.h"
#include "service/workers.h"
#include "state/client_socket.h"
#include "state/send_buffers.h"
#include "store/text_utils.h"

namespace qv::service {
namespace {

// The job a starting thread hands to a new send worker: the user, the worker's sequence number
// and the worker's own copy of the data. The starter makes the copy as part of the hand-off, so
// the hand-off is complete when the job is given to the thread and the starter never waits for
// the new worker to be scheduled: that wait, once per large reply on the event thread, took
// hundreds of microseconds on a busy machine and made the event thread the bottleneck.
struct SendJob {
  TMyNameUser* user = nullptr;
  int32_t sequence = 0;
  std::vector<uint8_t> data;
};

// Waits until it is this worker's turn: every earlier piece has completed. Also ends on a fault
// (the piece will not be sent) and on termination.
bool WaitForTurn(TMyNameUser& user, int32_t sequence, platform::WorkerThread& self) {
  for (;;) {
    if (!self.Checkpoint()) return false;  // blocks while suspended
    std::unique_lock lock(user.SendTurnMutex);
    const int32_t completed = user.SendCompleted;
    if (user.Fault || (completed == user.SendStarted && sequence == completed + 1)) return true;
    // The wake-up comes from the predecessor; the bound only covers a resume or stop request,
    // which wakes the thread's own condition and not this one.
    user.SendTurnChanged.wait_for(lock, std::chrono::milliseconds(50));
  }
}

// Gives a worker's buffer back for reuse when the worker leaves: after its completion is
// recorded, so that the user's next piece does not wait for it.
struct BufferReturn {
  SendBuffers& buffers;
  std::vector<uint8_t>& data;
  ~BufferReturn() {
    try {
      buffers.Give(std::move(data));
    } catch (...) {
    }
  }
};

uint32_t SendWorkerBody(Server& server, const std::shared_ptr<SendJob>& job,
                        platform::WorkerThread& self) {
  TMyNameUser* user = job->user;
  const int32_t sequence = job->sequence;
  std::vector<uint8_t> data = std::move(job->data);
  const BufferReturn giveBack{server.sendBuffers, data};
  try {
    if (user->Fault) return 0;
    if (!WaitForTurn(*user, sequence, self)) return 0;
    if (user->Fault || self.StopRequested()) return 0;
    user->SendStarted = sequence;
    NotifySendTurn(*user);
    const SendControl control{server.timeouts, {}, [&self] { return self.StopRequested(); }};
    const int result = BlockingBufferSend(*user->ClientSocket, data.data(),
                                          static_cast<int>(data.size()), control);
    if (self.StopRequested()) return 0;
    if (result < 0) {
      if (result == kSendTimedOut && user->Connected) server.log.Write(kErrorOfSendProcess);
      if (result == kSendDisconnected && user->Connected) server.log.Write(kResetSendProcess);
      user->Fault = true;
      NotifySendTurn(*user);
      return 0;
    }
    std::lock_guard sendLock(server.sendLock);
    if (self.StopRequested()) return 0;  // terminated: the sequence is no longer this worker's
    for (WorkerEntry& entry : user->Workers) {
      if (entry.Handle && entry.Sequence == sequence + 1 && entry.Kind == kWorkerKindSend) {
        entry.Handle->Resume();
        break;
      }
    }
    user->SendCompleted = sequence;
    NotifySendTurn(*user);
  } catch (...) {
    server.log.WriteMsg(MsgId::DataSendError, user->HostName);
    user->Fault = true;
    NotifySendTurn(*user);
  }
  return 0;
}

std::shared_ptr<platform::WorkerThread> CreateWorker(Server& server,
                                                     const std::shared_ptr<SendJob>& job,
                                                     TMyNameUser& user) {
  // On a parked thread when there is one: a new thread's first turn can be milliseconds away.
  auto thread = platform::WorkerThread::Start(
      server.sendThreads,
      [&server, job](platform::WorkerThread& self) { return SendWorkerBody(server, job, self); });
  thread->SetInterruptHook([&user] { NotifySendTurn(user); });
  return thread;
}

void StartSendWorker(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  // The copy is made before the send lock is entered: a finishing worker needs the lock to
  // record its completion, and should not wait for the copy of somebody else's piece.
  std::shared_ptr<SendJob> job;
  try {
    job = std::make_shared<SendJob>();
    job->user = &user;
    job->data = server.sendBuffers.Take(static_cast<size_t>(length));
    job->data.assign(data, data + length);
  } catch (...) {
    user.Fault = true;
    server.log.Write("Create Stream. Error!");
    return;
  }
  std::unique_lock sendLock(server.sendLock);
  try {
    job->sequence = user.SendIssued + 1;

    std::shared_ptr<platform::WorkerThread> thread;
    try {
      thread = CreateWorker(server, job, user);
    } catch (const std::system_error&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      try {
        thread = CreateWorker(server, job, user);
      } catch (const std::system_error& e) {
        user.Fault = true;
        sendLock.unlock();
        server.log.Write("Error CreateThread.\r\n" + store::SystemErrorText(e.code().value()));
        return;
      }
    }
    // Two or more earlier pieces still to go: wait suspended until the predecessor (or the
    // housekeeping tick) resumes this one.
    if (job->sequence - user.SendCompleted - 1 > 1) thread->Suspend();
    try {
      user.Workers.push_back(WorkerEntry{thread, job->sequence, kWorkerKindSend});
    } catch (...) {
      server.boundaryErrors.Report("Send worker table");
    }
    user.SendIssued = job->sequence;
  } catch (...) {
    user.Fault = true;
    if (sendLock.owns_lock()) sendLock.unlock();
    server.log.WriteMsg(MsgId::SendProcessCreateError, user.HostName);
  }
}

}  // namespace

bool SendingIdle(const TMyNameUser& user) {
  const int32_t issued = user.SendIssued;
  return issued == user.SendStarted && issued == user.SendCompleted;
}

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  if (!user.Connected || user.Fault || !user.ClientSocket || length <= 0) return;
  if (!user.Held.empty()) {
    // Behind an acknowledgment that waits for its sync: in order, after it.
    user.Held.push_back(HeldPiece{0, std::vector<uint8_t>(data, data + length)});
    return;
  }
  SendToUserNow(server, user, data, length);
}

void SendToUserNow(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  if (!user.Connected || user.Fault || !user.ClientSocket || length <= 0) return;
  {
    std::unique_lock sendLock(server.sendLock);
    const bool reap = !user.Workers.empty() && user.SendStarted == user.SendCompleted;
    sendLock.unlock();
    if (reap) ReapWorkers(server, user, false);
  }
  user.LastSendTick = platform::TickCount();
  int32_t sent = 0;
  if (server.settings.DirectSend && SendingIdle(user)) {
    int error = 0;
    const int result =
        SocketSend(*user.ClientSocket, data, std::min<int32_t>(length, kSendPieceSize), error);
    if ((error != 0 && error != platform::kWsaWouldBlock) || !user.ClientSocket->Connected()) {
      user.Fault = true;
      return;
    }
    sent = std::max(result, 0);
  }
  if (sent == length) return;
  StartSendWorker(server, user, data + sent, length - sent);
}

}  // namespace qv::service
