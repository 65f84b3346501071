#include "service/mail_worker.h"

#include <vector>

#include "net/blocking_send.h"
#include "service/mailbox.h"
#include "service/send_to_user.h"
#include "state/client_socket.h"
#include "wire/packages.h"

namespace qv::service {
namespace {

class SendFailed : public std::runtime_error {
 public:
  SendFailed() : std::runtime_error("mail count not sent") {}
};

// The 6001 package with its frame: length 8, 6001, count, in one blocking send.
void SendCount(MailChannel& channel, int32_t count) {
  uint8_t framed[4 + wire::kMailCountSize];
  wire::SetInt32At(framed, 0, wire::kMailCountSize);
  wire::SetInt32At(framed, 4, wire::code::kMailCount);
  wire::SetInt32At(framed, 8, count);
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
  SocketChannel(TMyNameUser& user, const SendControl& control) : user_(user), control_(control) {}

  int SendBuffer(const uint8_t* data, int length) override {
    if (!user_.ClientSocket) return kSendDisconnected;
    return BlockingBufferSend(*user_.ClientSocket, data, length, control_);
  }
  void SendFile(const std::string& path, std::string& error) override {
    if (!user_.ClientSocket) throw NoSendError();
    FileSend(*user_.ClientSocket, path, error, control_);
  }
  bool Connected() const override { return user_.ClientSocket && user_.ClientSocket->Connected(); }
  bool Stopped() const override { return control_.stopRequested && control_.stopRequested(); }

 private:
  TMyNameUser& user_;
  const SendControl& control_;
};

}  // namespace

void Deliver(Server& server, TMyNameUser& user, MailChannel& channel) {
  const std::string mailboxPath = server.MailboxPath(user.HostName);
  std::vector<MailNotice> notices;
  {
    std::optional<LockedFile> mailbox =
        LockedRetryingOpen(server, mailboxPath, platform::OpenMode::ReadWrite,
                           [&channel] { return channel.Stopped(); });
    if (!mailbox) return;
    try {
      notices = ReadNotices(mailbox->file);
      mailbox->file.Close();
    } catch (...) {
      mailbox.reset();  // closes the file, leaves the send lock
      server.log.WriteMsg(wire::MsgId::InboxOpenError, user.HostName);
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
    server.log.WriteMsg(wire::MsgId::MailSendError, user.HostName);
    user.Fault = true;
  }
}

void DeliverOnSocket(Server& server, TMyNameUser& user, const SendControl& control) {
  SocketChannel channel(user, control);
  Deliver(server, user, channel);
}

void StartMailWorker(Server& server, TMyNameUser& user) {
  QueueMailDelivery(server, user);
}

}  // namespace qv::service
