#include "service/mail.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>

#include "net/user_lookup.h"
#include "platform/text_utils.h"
#include "service/mailbox.h"

namespace qv::service {
namespace {

constexpr size_t kSplitErrorLineLimit = 103;
constexpr size_t kCopyChunk = 65536;

using Header = std::array<uint8_t, wire::mail::kHeaderSize>;

// Reads exactly n bytes from the current position; false when the payload ends first.
bool ReadExact(state::PayloadStream& payload, void* buffer, size_t n) {
  auto* at = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  while (got < n) {
    const size_t count = payload.Read(at + got, n - got);
    if (count == 0) return false;
    got += count;
  }
  return true;
}

bool IsLongAddressMarker(const uint8_t* header) {
  // The whole short string, length byte included.
  const std::string_view marker = wire::mail::kLongAddressMarker;
  return header[wire::mail::kAddress.offset] == marker.size() &&
         std::memcmp(header + wire::mail::kAddress.offset + 1, marker.data(), marker.size()) == 0;
}

// Copies the whole payload into a new file at path.
void CopyPayloadTo(state::PayloadStream& payload, const std::string& path) {
  platform::File file = platform::File::Open(path, platform::OpenMode::CreateTruncate);
  payload.Seek(0);
  std::vector<uint8_t> buffer(kCopyChunk);
  int64_t total = 0;
  for (;;) {
    const size_t count = payload.Read(buffer.data(), buffer.size());
    if (count == 0) break;
    file.Write(buffer.data(), count);
    total += static_cast<int64_t>(count);
  }
  if (total != payload.Size()) {
    throw platform::FileError("short copy of the mail package to " + path, 0);
  }
  file.Close();
}

void LogMailboxFull(state::Server& server, const state::TMyNameUser& recipient,
                    const state::TMyNameUser& sender, int64_t stored) {
  server.runtime.log.Write("Mailbox of " + recipient.HostName + " is full (" +
                           std::to_string(stored) + " bytes): mail from " + sender.HostName +
                           " not stored");
}

}  // namespace

AddressAndMailHandler::AddressAndMailHandler(state::Server& server, ReplySender reply)
    : server_(server), reply_(std::move(reply)) {}

void AddressAndMailHandler::Handle(state::TMyNameUser& sender, const std::string& /*host*/,
                                   state::PayloadStream& payload,
                                   const std::string& spoolFileName) {
  bool spoolTaken = false;
  try {
    Header header{};
    payload.Seek(0);
    std::string list;
    // A package too short for its header names no recipient.
    if (payload.Size() < wire::mail::kHeaderSize ||
        !ReadExact(payload, header.data(), header.size())) {
      server_.runtime.log.WriteMsg(wire::MsgId::IncorrectRecipient);
    } else if (ReadAddressList(payload, header.data(), list)) {
      const std::vector<Recipient> recipients = Recipients(list);
      const wire::mail::MailClass kind =
          wire::mail::ClassOfKind(wire::Int32At(header.data(), wire::mail::kKindOffset));
      if (kind == wire::mail::MailClass::Stored) {
        Store(sender, payload, spoolFileName, recipients, spoolTaken);
      } else if (spoolFileName.empty()) {
        Direct(payload, header.data(), recipients);
      }
    }
  } catch (const std::exception&) {
    server_.runtime.log.WriteMsg(wire::MsgId::RequestProcessingError, sender.HostName);
  }
  // A spool file that no recipient took would only fill the disk.
  if (!spoolFileName.empty() && !spoolTaken) {
    payload.TakeSpoolFile();  // closed here
    platform::DeleteFile(spoolFileName);
  }
}

bool AddressAndMailHandler::ReadAddressList(state::PayloadStream& payload, const uint8_t* header,
                                            std::string& list) {
  list.clear();
  if (!IsLongAddressMarker(header)) {
    list = std::string(wire::ReadShortString(header, wire::mail::kAddress));
  } else {
    const int64_t size = payload.Size();
    uint8_t lengthBytes[4];
    payload.Seek(wire::mail::kLongAddressLengthOffset);
    if (size < static_cast<int64_t>(wire::mail::kLongAddressOffset) ||
        !ReadExact(payload, lengthBytes, sizeof lengthBytes)) {
      server_.runtime.log.WriteMsg(wire::MsgId::IncorrectRecipient);
      return false;
    }
    const int32_t length = wire::LoadField<int32_t>(lengthBytes);
    if (length < 0 || length > size - static_cast<int64_t>(wire::mail::kLongAddressOffset)) {
      server_.runtime.log.WriteMsg(wire::MsgId::IncorrectRecipient);
      return false;
    }
    // No longer than the configured names can fill: the rest could only repeat them or name
    // nobody, and is not read.
    const size_t limit = LongListLimit();
    const bool cut = static_cast<size_t>(length) > limit;
    list.resize(cut ? limit : static_cast<size_t>(length));
    if (!ReadExact(payload, list.data(), list.size())) {
      server_.runtime.log.WriteMsg(wire::MsgId::IncorrectRecipient);
      return false;
    }
    const size_t nul = list.find('\0');
    if (nul != std::string::npos) {
      list.resize(nul);
    } else if (cut) {
      // The name the limit cut through is dropped whole.
      const size_t separator = list.rfind(wire::mail::kAddressSeparator);
      list.resize(separator == std::string::npos ? 0 : separator);
      server_.runtime.log.Write("Address list cut to " + std::to_string(limit) + " of " +
                                std::to_string(length) + " bytes");
    }
  }
  if (list.empty()) {
    server_.runtime.log.WriteMsg(wire::MsgId::IncorrectRecipient);
    return false;
  }
  return true;
}

std::vector<AddressAndMailHandler::Recipient> AddressAndMailHandler::Recipients(
    const std::string& list) {
  std::vector<std::string> names;
  try {
    platform::SplitToList(wire::mail::kAddressSeparator, list, names);
  } catch (const std::exception&) {
    std::string line = "ERROR SPLIT " + server_.runtime.log.Msg(wire::MsgId::IncorrectRecipient);
    if (line.size() > kSplitErrorLineLimit) line.resize(kSplitErrorLineLimit);
    server_.runtime.log.Write(line);
  }
  std::vector<Recipient> recipients;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) continue;
    state::TMyNameUser* user = net::UserByUserName(server_, names[i]);
    if (user == nullptr) continue;
    // Each user at most once per package, at its first position.
    const bool named = std::any_of(recipients.begin(), recipients.end(),
                                   [user](const Recipient& r) { return r.user == user; });
    if (!named) recipients.push_back(Recipient{static_cast<int32_t>(i), user});
  }
  return recipients;
}

size_t AddressAndMailHandler::LongListLimit() const {
  size_t limit = 0;
  for (const state::TMyDBUser& group : server_.roster.groups) {
    for (const state::TMyNameUser& user : group.Users) {
      if (user.Valid) limit += user.UserName.size() + 1;
    }
  }
  return limit;
}

void AddressAndMailHandler::Store(state::TMyNameUser& sender, state::PayloadStream& payload,
                                  const std::string& spoolFileName,
                                  const std::vector<Recipient>& recipients, bool& spoolTaken) {
  for (size_t k = 0; k < recipients.size(); ++k) {
    state::TMyNameUser& recipient = *recipients[k].user;
    const std::string mailboxPath = server_.MailboxPath(recipient.HostName);
    const bool last = k + 1 == recipients.size();
    std::optional<platform::File> mailbox =
        platform::File::TryOpen(mailboxPath, platform::OpenMode::ReadWrite, true);
    if (!mailbox) {
      if (!OpenMayRetry(errno)) {
        server_.runtime.log.WriteMsg(wire::MsgId::FileOpenError, mailboxPath + ".");
        continue;
      }
      // A mail thread has the mailbox open (a delivery reading or tidying it). The event thread
      // does not wait for it: the message file is written now, while the package is here, and
      // its notice is appended by the mailbox jobs once that delivery is done with the file.
      const std::string name = FreeMessageFileName(server_.setup.pop3Dir, recipients[k].position);
      const std::string path = platform::JoinPath(server_.setup.pop3Dir, name);
      StoreMessage(payload, spoolFileName, last, path, spoolTaken);
      DeferNotice(sender, recipient, name, path, payload.Size());
      continue;
    }
    const int64_t stored = StoredMailBytes(server_, mailboxPath, *mailbox);
    if (stored + payload.Size() > server_.setup.limits.mailboxBytesPerHost) {
      mailbox.reset();
      LogMailboxFull(server_, recipient, sender, stored);
      continue;
    }
    const std::string name = FreeMessageFileName(server_.setup.pop3Dir, recipients[k].position);
    const std::string path = platform::JoinPath(server_.setup.pop3Dir, name);
    // The message file exists before its notice, so a delivery never finds a notice whose file
    // is still to come. A spooled package goes to the last recipient by renaming the spool file;
    // every earlier one gets a second name for it (a copy only where no link can be made).
    StoreMessage(payload, spoolFileName, last, path, spoolTaken);
    try {
      AppendNotice(*mailbox, BuildNotice(sender.UserName, sender.HostName, name));
      server_.runtime.mailboxTally.Appended(mailboxPath, payload.Size());
      mailbox->Close();
    } catch (...) {
      server_.runtime.mailboxTally.Forget(mailboxPath);  // the notice may be there in part
      platform::DeleteFile(path);  // a message without its notice would never be delivered
      throw;
    }
    Stored(recipient);
  }
}

void AddressAndMailHandler::DeferNotice(const state::TMyNameUser& sender,
                                        state::TMyNameUser& recipient, const std::string& name,
                                        const std::string& path, int64_t size) {
  const MailNotice notice = BuildNotice(sender.UserName, sender.HostName, name);
  server_.threads.mailboxJobs.Run([this, &sender, &recipient, path, size, notice] {
    const std::string mailboxPath = server_.MailboxPath(recipient.HostName);
    std::optional<LockedFile> mailbox =
        LockedRetryingOpen(server_, mailboxPath, platform::OpenMode::ReadWrite);
    if (!mailbox) {
      platform::DeleteFile(path);  // message 27 is logged; no notice will ever name it
      return;
    }
    try {
      const int64_t stored = StoredMailBytes(server_, mailboxPath, mailbox->file);
      if (stored + size > server_.setup.limits.mailboxBytesPerHost) {
        mailbox.reset();
        platform::DeleteFile(path);
        LogMailboxFull(server_, recipient, sender, stored);
        return;
      }
      AppendNotice(mailbox->file, notice);
      server_.runtime.mailboxTally.Appended(mailboxPath, size);
      mailbox->file.Close();
    } catch (...) {
      server_.runtime.mailboxTally.Forget(mailboxPath);
      platform::DeleteFile(path);
      server_.runtime.log.WriteMsg(wire::MsgId::RequestProcessingError, sender.HostName);
      return;
    }
    server_.runtime.loop.Post([this, &recipient] { Stored(recipient); });
  });
}

void AddressAndMailHandler::Stored(state::TMyNameUser& recipient) {
  state::Metrics::Add(server_.runtime.metrics.mailStored);
  if (!recipient.Connected || !reply_) return;
  uint8_t waiting[wire::kMailWaitingSize];
  wire::SetInt32At(waiting, 0, wire::code::kMailWaiting);
  reply_(recipient, waiting, wire::kMailWaitingSize, recipient.HostName, kScopeUser);
}

void AddressAndMailHandler::StoreMessage(state::PayloadStream& payload,
                                         const std::string& spoolFileName, bool renameSpool,
                                         const std::string& path, bool& spoolTaken) {
  try {
    if (spoolFileName.empty()) {
      CopyPayloadTo(payload, path);
      return;
    }
    if (!renameSpool) {
      if (!platform::LinkFile(spoolFileName, path)) CopyPayloadTo(payload, path);
      return;
    }
    payload.TakeSpoolFile();  // closed before the rename
    spoolTaken = true;
    if (!platform::RenameFile(spoolFileName, path)) {
      platform::DeleteFile(spoolFileName);
      throw platform::FileError("cannot rename " + spoolFileName + " to " + path, errno);
    }
  } catch (...) {
    platform::DeleteFile(path);
    throw;
  }
}

void AddressAndMailHandler::Direct(state::PayloadStream& payload, const uint8_t* header,
                                   const std::vector<Recipient>& recipients) {
  const std::string senderName(wire::ReadShortString(header, wire::mail::kSender));
  std::vector<uint8_t> package;
  for (const Recipient& r : recipients) {
    state::TMyNameUser& recipient = *r.user;
    if (!recipient.Connected || recipient.UserName == senderName) continue;
    if (package.empty()) {
      package.resize(static_cast<size_t>(payload.Size()));
      payload.Seek(0);
      if (!ReadExact(payload, package.data(), package.size())) {
        throw platform::FileError("short read of a mail package", 0);
      }
    }
    if (reply_) {
      reply_(recipient, package.data(), static_cast<int32_t>(package.size()), recipient.HostName,
             kScopeUser);
    }
  }
}

}  // namespace qv::service
