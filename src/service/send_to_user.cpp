#include "service/send_to_user.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "net/client_socket.h"
#include "platform/socket_errors.h"
#include "platform/time.h"
#include "service/blocking_send.h"
#include "service/workers.h"
#include "store/text_utils.h"

namespace qv::service {
namespace {

// The job a starting thread hands to a new send worker. The worker copies the data and marks
// the job taken; a starter that gave up waiting marks it abandoned, and the worker then leaves
// without touching the data.
struct HandOff {
  TMyNameUser* user = nullptr;
  int32_t sequence = 0;
  const uint8_t* data = nullptr;
  int32_t length = 0;
  std::mutex mutex;
  std::condition_variable changed;
  bool taken = false;
  bool abandoned = false;
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

uint32_t SendWorkerBody(Server& server, const std::shared_ptr<HandOff>& job,
                        platform::WorkerThread& self) {
  TMyNameUser* user = nullptr;
  int32_t sequence = 0;
  std::vector<uint8_t> data;
  {
    std::lock_guard lock(job->mutex);
    if (job->abandoned) return 0;
    user = job->user;
    sequence = job->sequence;
    try {
      data.assign(job->data, job->data + job->length);
    } catch (...) {
      job->taken = true;
      job->changed.notify_all();
      user->Fault = true;
      server.log.Write("Create Stream. Error!");
      return 0;
    }
    job->taken = true;
    job->changed.notify_all();
  }
  try {
    if (user->Fault) return 0;
    if (!WaitForTurn(*user, sequence, self)) return 0;
    if (user->Fault || self.StopRequested()) return 0;
    user->SendStarted = sequence;
    NotifySendTurn(*user);
    const SendControl control{server.timeouts, {}, [&self] { return self.StopRequested(); }};
    const int result = BlockingBufferSend(*user->ClientSocket, data.data(),
                                          static_cast<int>(data.size()), control);
    data.clear();
    data.shrink_to_fit();
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
    server.log.WriteMsg(38, user->HostName);
    user->Fault = true;
    NotifySendTurn(*user);
  }
  return 0;
}

std::shared_ptr<platform::WorkerThread> CreateWorker(Server& server,
                                                     const std::shared_ptr<HandOff>& job,
                                                     TMyNameUser& user) {
  // On a parked thread when there is one: a new thread's first turn can be milliseconds away.
  auto thread = platform::WorkerThread::Start(
      server.sendThreads,
      [&server, job](platform::WorkerThread& self) { return SendWorkerBody(server, job, self); });
  thread->SetInterruptHook([&user] { NotifySendTurn(user); });
  return thread;
}

void StartSendWorker(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  std::unique_lock sendLock(server.sendLock);
  try {
    auto job = std::make_shared<HandOff>();
    job->user = &user;
    job->sequence = user.SendIssued + 1;
    job->data = data;
    job->length = length;

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
    {
      std::unique_lock lock(job->mutex);
      if (!job->changed.wait_for(lock, std::chrono::milliseconds(server.timeouts.handOffLimitMs),
                                 [&job] { return job->taken; })) {
        job->abandoned = true;
        lock.unlock();
        user.Fault = true;
        sendLock.unlock();
        server.log.Write("Error CreateThread on timeout.");
        return;
      }
    }
    // Two or more earlier pieces still to go: wait suspended until the predecessor (or the
    // housekeeping tick) resumes this one.
    if (job->sequence - user.SendCompleted - 1 > 1) thread->Suspend();
    try {
      user.Workers.push_back(WorkerEntry{thread, job->sequence, kWorkerKindSend});
    } catch (...) {
    }
    user.SendIssued = job->sequence;
  } catch (...) {
    user.Fault = true;
    if (sendLock.owns_lock()) sendLock.unlock();
    server.log.WriteMsg(39, user.HostName);
  }
}

}  // namespace

bool SendingIdle(const TMyNameUser& user) {
  const int32_t issued = user.SendIssued;
  return issued == user.SendStarted && issued == user.SendCompleted;
}

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
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
