#include "service/workers.h"

#include <vector>

#include "state/client_socket.h"

namespace qv::service {

void NotifySendTurn(TMyNameUser& user) {
  std::lock_guard lock(user.SendTurnMutex);
  user.SendTurnChanged.notify_all();
}

void TerminateWorkers(Server& server, TMyNameUser& user, int32_t kind) {
  try {
    std::lock_guard sendLock(server.sendLock);
    std::unique_lock sessionLock(server.sessionLock);
    for (WorkerEntry& entry : user.Workers) {
      if (!entry.Handle || entry.Kind != kind) continue;
      if (entry.Handle->ExitCode() != platform::WorkerThread::kStillActive) continue;
      if (server.socketWindow != nullptr && user.ClientSocket) {
        // Waits until a worker inside a send on this socket has left it; a worker checks its
        // stop flag under this lock before every send, so none follows.
        std::lock_guard socketLock(user.ClientSocket->SendLock());
        entry.Handle->Terminate(0);
      } else {
        entry.Handle->Terminate(0);
      }
    }
  } catch (...) {
    server.boundaryErrors.Report("Worker table");
  }
  // Not waited for: a stopped worker leaves at its next step, and a reap hands it to the
  // server's reaper until it has.
}

void ReapWorkers(Server& server, TMyNameUser& user, bool force) {
  // Threads dropped from the table are released after the send lock is left: releasing one
  // waits for it to end, and a thread on its way out may need the lock.
  std::vector<WorkerEntry> released;
  try {
    std::lock_guard sendLock(server.sendLock);
    bool running = false;
    for (WorkerEntry& entry : user.Workers) {
      if (!entry.Handle) continue;
      if (entry.Handle->ExitCode() != platform::WorkerThread::kStillActive) {
        released.push_back(WorkerEntry{std::move(entry.Handle), entry.Sequence, entry.Kind});
        entry.Handle.reset();
      } else {
        running = true;
      }
    }
    if (!running || force) {
      // A thread still running is asked to stop and left to the reaper, never waited for here.
      for (WorkerEntry& entry : user.Workers) {
        if (!entry.Handle) continue;
        entry.Handle->Terminate(0);
        server.reaper.Add(std::move(entry.Handle));
      }
      user.Workers.clear();
    } else if (user.Workers.size() > kReapCompactThreshold) {
      size_t first = 0;
      while (first < user.Workers.size() && !user.Workers[first].Handle) ++first;
      if (first > 0) {
        user.Workers.erase(user.Workers.begin(),
                           user.Workers.begin() + static_cast<std::ptrdiff_t>(first));
      }
    }
  } catch (...) {
    server.boundaryErrors.Report("Worker table");
  }
  user.WorkerCount = static_cast<int32_t>(user.Workers.size());
  released.clear();
}

void ReleaseNextWorker(Server& server, TMyNameUser& user) {
  try {
    std::lock_guard sendLock(server.sendLock);
    const int32_t next = user.SendStarted + 1;
    for (WorkerEntry& entry : user.Workers) {
      if (entry.Handle && entry.Sequence == next && entry.Kind == kWorkerKindSend) {
        entry.Handle->Resume();
        break;
      }
    }
  } catch (...) {
    server.boundaryErrors.Report("Worker table");
  }
}

}  // namespace qv::service
