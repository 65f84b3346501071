#include "service/mail_worker.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "net/blocking_send.h"
#include "platform/time.h"
#include "service/mailbox.h"
#include "service/send_to_user.h"
#include "service/workers.h"
#include "state/client_socket.h"
#include "wire/packages.h"

namespace qv::service {
namespace {

constexpr auto kCreateRetryPause = std::chrono::milliseconds(10);

class SendFailed : public std::runtime_error {
 public:
  SendFailed() : std::runtime_error("mail count not sent") {}
};

// The 6001 package with its frame: length 8, 6001, count, in one blocking send.
void SendCount(MailChannel& channel, int32_t count) {
  uint8_t framed[4 + kMailCountSize];
  SetInt32At(framed, 0, kMailCountSize);
  SetInt32At(framed, 4, code::kMailCount);
  SetInt32At(framed, 8, count);
  if (channel.SendBuffer(framed, sizeof framed) < 0) throw SendFailed();
}

// Why a notice cannot be delivered, or empty.
std::string NoticeFault(const Server& server, const std::string& name) {
  if (!platform::IsPlainFileName(name)) return "not a file name of POP3";
  if (!platform::FileExists(platform::JoinPath(server.pop3Dir, name))) return "no such file";
  return {};
}

class SocketChannel final : public MailChannel {
 public:
  SocketChannel(Server& server, TMyNameUser& user, platform::WorkerThread& self)
      : user_(user), control_{server.timeouts, {}, [&self] { return self.StopRequested(); }} {}

  int SendBuffer(const uint8_t* data, int length) override {
    if (!user_.ClientSocket) return kSendDisconnected;
    return BlockingBufferSend(*user_.ClientSocket, data, length, control_);
  }
  void SendFile(const std::string& path, std::string& error) override {
    if (!user_.ClientSocket) throw NoSendError();
    FileSend(*user_.ClientSocket, path, error, control_);
  }
  bool Connected() const override { return user_.ClientSocket && user_.ClientSocket->Connected(); }

 private:
  TMyNameUser& user_;
  SendControl control_;
};

// Waits until every earlier piece of the user has completed; false once the thread is stopped.
bool WaitForTurn(TMyNameUser& user, int32_t sequence, platform::WorkerThread& self) {
  for (;;) {
    if (!self.Checkpoint()) return false;  // blocks while suspended
    std::unique_lock lock(user.SendTurnMutex);
    const int32_t completed = user.SendCompleted;
    if (completed == user.SendStarted && sequence == completed + 1) return true;
    // Woken by the predecessor; the bound covers a stop request, which signals elsewhere.
    user.SendTurnChanged.wait_for(lock, std::chrono::milliseconds(50));
  }
}

uint32_t MailWorkerBody(Server& server, TMyNameUser& user, int32_t sequence,
                        platform::WorkerThread& self) {
  try {
    if (!WaitForTurn(user, sequence, self)) return 0;
    user.SendStarted = sequence;
    NotifySendTurn(user);
    SocketChannel channel(server, user, self);
    Deliver(server, user, channel);
    {
      std::lock_guard sendLock(server.sendLock);
      if (self.StopRequested()) return 0;  // terminated: the sequence is no longer this worker's
      for (WorkerEntry& entry : user.Workers) {
        if (entry.Handle && entry.Sequence == sequence + 1 && entry.Kind == kWorkerKindSend) {
          entry.Handle->Resume();
          break;
        }
      }
      user.SendCompleted = sequence;
    }
    NotifySendTurn(user);
  } catch (...) {
    server.log.WriteMsg(MsgId::DataSendError, user.HostName);
    user.Fault = true;
    NotifySendTurn(user);
  }
  return 0;
}

std::shared_ptr<platform::WorkerThread> CreateMailWorker(Server& server, TMyNameUser& user,
                                                         int32_t sequence, bool suspended) {
  auto thread = platform::WorkerThread::Start(
      [&server, &user, sequence](platform::WorkerThread& self) {
        return MailWorkerBody(server, user, sequence, self);
      },
      suspended);
  thread->SetInterruptHook([&user] { NotifySendTurn(user); });
  return thread;
}

}  // namespace

void Deliver(Server& server, TMyNameUser& user, MailChannel& channel) {
  const std::string mailboxPath = server.MailboxPath(user.HostName);
  std::vector<MailNotice> notices;
  {
    std::optional<LockedFile> mailbox =
        LockedRetryingOpen(server, mailboxPath, platform::OpenMode::ReadWrite);
    if (!mailbox) return;
    try {
      notices = ReadNotices(mailbox->file);
      mailbox->file.Close();
    } catch (...) {
      mailbox.reset();  // closes the file, leaves the send lock
      server.log.WriteMsg(MsgId::InboxOpenError, user.HostName);
      return;
    }
  }

  std::vector<std::string> names;
  int32_t deliverable = 0;
  for (const MailNotice& n : notices) {
    names.push_back(NoticeMessageFile(n));
    if (NoticeFault(server, names.back()).empty()) ++deliverable;
  }

  // Notices are handled strictly in file order, so those handled form the head of the file.
  int32_t handled = 0;
  try {
    SendCount(channel, deliverable);
    for (const std::string& name : names) {
      const std::string fault = NoticeFault(server, name);
      if (!fault.empty()) {
        // Never read or deleted: the notice is dropped with the delivered ones.
        server.log.Write("Mail notice skipped (" + fault + "): \"" + name + "\" for " +
                         user.HostName);
        ++handled;
        continue;
      }
      const std::string path = platform::JoinPath(server.pop3Dir, name);
      std::string error;
      channel.SendFile(path, error);
      if (!channel.Connected()) {
        RemoveDeliveredNotices(server, mailboxPath, handled);
        user.Fault = true;
        return;
      }
      if (!error.empty()) {
        server.log.Write(error + " to " + user.HostName);
        RemoveDeliveredNotices(server, mailboxPath, handled);
        return;
      }
      ++handled;
      Metrics::Add(server.metrics.mailDelivered);
      platform::DeleteFile(path);
    }
    RemoveDeliveredNotices(server, mailboxPath, handled);
  } catch (...) {
    RemoveDeliveredNotices(server, mailboxPath, handled);
    server.log.WriteMsg(MsgId::MailSendError, user.HostName);
    user.Fault = true;
  }
}

void StartMailWorker(Server& server, TMyNameUser& user) {
  if (!user.Connected || user.Fault) return;
  {
    std::unique_lock sendLock(server.sendLock);
    const bool reap = !user.Workers.empty() && SendingIdle(user);
    sendLock.unlock();
    if (reap) ReapWorkers(server, user, false);
  }
  std::unique_lock sendLock(server.sendLock);
  try {
    user.LastSendTick = platform::TickCount();
    const int32_t sequence = user.SendIssued + 1;
    // Two or more earlier pieces still to go: start suspended until the predecessor (or the
    // housekeeping tick) resumes it. The job is captured by the thread, so no hand-off wait.
    const bool suspended = sequence - user.SendCompleted - 1 > 1;
    std::shared_ptr<platform::WorkerThread> thread;
    try {
      thread = CreateMailWorker(server, user, sequence, suspended);
    } catch (const std::system_error&) {
      std::this_thread::sleep_for(kCreateRetryPause);
      try {
        thread = CreateMailWorker(server, user, sequence, suspended);
      } catch (const std::system_error&) {
        user.Fault = true;
        sendLock.unlock();
        server.log.Write("Error CreateThread");
        return;
      }
    }
    user.Workers.push_back(WorkerEntry{thread, sequence, kWorkerKindSend});
    user.SendIssued = sequence;
  } catch (...) {
    if (sendLock.owns_lock()) sendLock.unlock();
    server.log.WriteMsg(MsgId::SendProcessCreateError, user.HostName + " (MAIL)");
  }
}

}  // namespace qv::service
