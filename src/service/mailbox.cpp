#include "service/mailbox.h"

#include <stdexcept>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/time.h"

namespace qv::service {
namespace {

constexpr uint32_t kTickModulus = 1000;

}  // namespace

bool OpenMayRetry(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == EINTR;
}

std::optional<LockedFile> LockedRetryingOpen(state::Server& server, const std::string& fileName,
                                             platform::OpenMode mode,
                                             const std::function<bool()>& stopped) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (stopped && stopped()) return std::nullopt;
    std::unique_lock lock(server.runtime.mailboxLock);
    if (auto file = platform::File::TryOpen(fileName, mode, true)) {
      return LockedFile{std::move(lock), std::move(*file)};
    }
    const int error = errno;
    lock.unlock();
    if (!OpenMayRetry(error) ||
        std::chrono::steady_clock::now() - start >
            std::chrono::milliseconds(server.setup.timeouts.retryingOpenLimitMs)) {
      server.runtime.log.WriteMsg(wire::MsgId::FileOpenError, fileName + ".");
      return std::nullopt;
    }
    std::this_thread::sleep_for(
        std::chrono::milliseconds(server.setup.timeouts.retryingOpenStepMs));
  }
}

MailNotice BuildNotice(std::string_view senderName, std::string_view senderHost,
                       std::string_view messageFile) {
  MailNotice n{};
  wire::SetInt32At(n.data(), wire::notice::kOneOffset, 1);
  wire::SetInt32At(n.data(), wire::notice::kZeroOffset, 0);
  wire::WriteShortString(n.data(), wire::notice::kSenderName, senderName);
  wire::WriteShortString(n.data(), wire::notice::kSenderHost, senderHost);
  wire::WriteShortString(n.data(), wire::notice::kMessageFile, messageFile);
  return n;
}

std::string NoticeMessageFile(const MailNotice& n) {
  return std::string(wire::ReadShortString(n.data(), wire::notice::kMessageFile));
}

std::string MessageFileName(int32_t position, uint32_t tickCount, platform::TDateTime now) {
  return std::to_string(position) + std::to_string(tickCount % kTickModulus) +
         platform::FormatDateTime(now, "yymmddhhnnss") + ".mqv";
}

std::string FreeMessageFileName(const std::string& directory, int32_t position) {
  const uint32_t tick = platform::TickCount();
  const platform::TDateTime now = platform::Now();
  for (uint32_t step = 0; step < kTickModulus; ++step) {
    const std::string name = MessageFileName(position, tick + step, now);
    if (!platform::FileExists(platform::JoinPath(directory, name))) return name;
  }
  // Every name of this second is taken: storing under one of them would overwrite a message.
  throw std::runtime_error("no free message file name in " + directory);
}

std::vector<int64_t> StoredMailSizes(const std::string& pop3Dir, platform::File& mailbox) {
  std::vector<int64_t> sizes;
  for (const MailNotice& n : ReadNotices(mailbox)) {
    const std::string name = NoticeMessageFile(n);
    const int64_t size =
        platform::IsPlainFileName(name) ? platform::FileSize(platform::JoinPath(pop3Dir, name)) : 0;
    sizes.push_back(std::max<int64_t>(size, 0));
  }
  return sizes;
}

int64_t StoredMailBytes(state::Server& server, const std::string& mailboxPath,
                        platform::File& mailbox) {
  return server.runtime.mailboxTally.Bytes(
      mailboxPath, [&] { return StoredMailSizes(server.setup.pop3Dir, mailbox); });
}

void AppendNotice(platform::File& mailbox, const MailNotice& n) {
  mailbox.WriteAt(mailbox.Size(), n.data(), n.size());
}

std::vector<MailNotice> ReadNotices(platform::File& mailbox) {
  const int64_t count = mailbox.Size() / wire::notice::kSize;
  std::vector<MailNotice> notices(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    mailbox.ReadAt(i * wire::notice::kSize, notices[static_cast<size_t>(i)].data(),
                   wire::notice::kSize);
  }
  return notices;
}

void RemoveDeliveredNotices(state::Server& server, const std::string& mailboxPath,
                            int32_t delivered) {
  if (delivered <= 0) return;
  std::optional<LockedFile> mailbox =
      LockedRetryingOpen(server, mailboxPath, platform::OpenMode::ReadWrite);
  if (!mailbox) return;
  try {
    platform::File& file = mailbox->file;
    const int64_t count = file.Size() / wire::notice::kSize;
    if (delivered >= count) {
      file.Truncate(0);
    } else {
      MailNotice n;
      for (int64_t i = delivered; i < count; ++i) {
        file.ReadAt(i * wire::notice::kSize, n.data(), n.size());
        file.WriteAt((i - delivered) * wire::notice::kSize, n.data(), n.size());
      }
      // Whole notices only: a torn notice at the end would otherwise shift into the list.
      file.Truncate((count - delivered) * wire::notice::kSize);
    }
    file.Close();
    server.runtime.mailboxTally.RemovedFront(mailboxPath, delivered);
  } catch (...) {
    server.runtime.mailboxTally.Forget(mailboxPath);  // unsure now: counted again at its next use
    server.runtime.boundaryErrors.Report("Mailbox notices");
  }
}

}  // namespace qv::service
