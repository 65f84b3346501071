#include "service/mail_delivery.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/files.h"
#include "service/mailbox.h"
#include "wire/packages.h"

namespace qv::service {
namespace {

// Why a notice cannot be delivered, or empty.
std::string NoticeFault(const state::Server& server, const std::string& name) {
  if (!platform::IsPlainFileName(name)) return "not a file name of POP3";
  if (!platform::FileExists(platform::JoinPath(server.setup.pop3Dir, name))) return "no such file";
  return {};
}

std::vector<uint8_t> Int32Bytes(std::initializer_list<int32_t> values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  size_t at = 0;
  for (const int32_t value : values) {
    std::memcpy(bytes.data() + at, &value, 4);
    at += 4;
  }
  return bytes;
}

}  // namespace

MailPlan PlanDelivery(state::Server& server, const std::string& host,
                      const std::function<bool()>& stopped) {
  MailPlan plan;
  std::vector<MailNotice> notices;
  {
    std::optional<LockedFile> mailbox = LockedRetryingOpen(server, server.MailboxPath(host),
                                                           platform::OpenMode::ReadWrite, stopped);
    if (!mailbox) return plan;
    try {
      notices = ReadNotices(mailbox->file);
      mailbox->file.Close();
    } catch (...) {
      mailbox.reset();  // closes the file, leaves the mailbox lock
      server.runtime.log.WriteMsg(wire::MsgId::InboxOpenError, host);
      return plan;
    }
  }
  plan.opened = true;
  int32_t skipped = 0;
  for (const MailNotice& notice : notices) {
    const std::string name = NoticeMessageFile(notice);
    const std::string fault = NoticeFault(server, name);
    if (!fault.empty()) {
      // Never read or deleted: the notice is dropped with the delivered ones.
      server.runtime.log.Write("Mail notice skipped (" + fault + "): \"" + name + "\" for " + host);
      ++skipped;
      continue;
    }
    const std::string path = platform::JoinPath(server.setup.pop3Dir, name);
    plan.files.push_back(MailFile{path, platform::FileSize(path), skipped + 1});
    skipped = 0;
  }
  plan.trailingNotices = skipped;
  return plan;
}

void FinishDelivery(state::Server& server, const std::string& host, int32_t handledNotices,
                    const std::vector<std::string>& deliveredFiles) {
  for (const std::string& path : deliveredFiles) platform::DeleteFile(path);
  if (handledNotices > 0) RemoveDeliveredNotices(server, server.MailboxPath(host), handledNotices);
}

MailDelivery::MailDelivery(state::Server& server, std::string host, std::function<void()> onReady)
    : server_(server), host_(std::move(host)), onReady_(std::move(onReady)) {}

MailDelivery::~MailDelivery() {
  *stopped_ = true;  // reads under way are dropped; End() was called by the owner if it mattered
}

std::function<void()> MailDelivery::OnLoop(std::function<void(MailDelivery&)> fn) {
  std::weak_ptr<MailDelivery> weak = weak_from_this();
  return [weak, fn = std::move(fn), &loop = server_.runtime.loop] {
    loop.Post([weak, fn] {
      if (auto self = weak.lock(); self && !self->ended_) fn(*self);
    });
  };
}

bool MailDelivery::RunOnMailThread(std::function<void()> job) {
  try {
    server_.threads.mailThreads.Run(std::move(job));
    return true;
  } catch (const std::system_error&) {
    server_.runtime.log.WriteMsg(wire::MsgId::SendProcessCreateError, host_);
    return false;
  }
}

bool MailDelivery::Start() {
  started_ = true;
  auto stopped = stopped_;
  auto plan = std::make_shared<MailPlan>();
  auto done = OnLoop([plan](MailDelivery& self) { self.Planned(std::move(*plan)); });
  try {
    server_.threads.mailboxJobs.Run([&server = server_, host = host_, stopped, plan, done] {
      if (*stopped) return;
      *plan = PlanDelivery(server, host, [stopped] { return stopped->load(); });
      done();
    });
  } catch (const std::system_error&) {
    server_.runtime.log.WriteMsg(wire::MsgId::SendProcessCreateError, host_);
    return false;
  }
  return true;
}

void MailDelivery::Planned(MailPlan plan) {
  plan_ = std::move(plan);
  planned_ = true;
  if (plan_.opened) {
    const auto count = static_cast<int32_t>(plan_.files.size());
    Segment segment;
    segment.bytes = Int32Bytes({wire::kMailCountSize, wire::code::kMailCount, count});
    ready_.push_back(std::move(segment));
  }
  ReadAhead();
  Notify();
}

void MailDelivery::ReadAhead() {
  while (status_ == Status::Working && planned_ && !readInFlight_ &&
         ready_.size() < kMailChunksAhead) {
    const bool reading = readingFile_ < nextFile_;
    if (reading && readOffset_ < plan_.files[readingFile_].size) {
      const MailFile& file = plan_.files[readingFile_];
      const size_t size =
          static_cast<size_t>(std::min<int64_t>(file.size - readOffset_, kMailChunkSize));
      readInFlight_ = true;
      const size_t index = readingFile_;
      const int64_t offset = readOffset_;
      auto result = std::make_shared<std::vector<uint8_t>>();
      auto ok = std::make_shared<bool>(false);
      auto done = OnLoop([index, offset, result, ok](MailDelivery& self) {
        self.ChunkRead(index, offset, std::move(*result), *ok);
      });
      auto stopped = stopped_;
      if (!RunOnMailThread([path = file.path, offset, size, result, ok, done, stopped] {
            if (*stopped) return;
            try {
              platform::File in = platform::File::Open(path, platform::OpenMode::Read, false);
              result->resize(size);
              in.ReadAt(offset, result->data(), size);
              in.Close();
              *ok = true;
            } catch (...) {
              *ok = false;
            }
            done();
          })) {
        readInFlight_ = false;
        Fail();
      }
      return;
    }
    if (nextFile_ >= plan_.files.size()) {
      if (ready_.empty()) {
        handledNotices_ += plan_.trailingNotices;
        status_ = Status::Done;
      }
      return;
    }
    const size_t index = nextFile_++;
    const MailFile& file = plan_.files[index];
    if (file.size < 0 || file.size > INT32_MAX) {  // gone meanwhile, or too large for its word
      Fail();
      return;
    }
    readingFile_ = index;
    readOffset_ = 0;
    Segment word;
    word.bytes = Int32Bytes({static_cast<int32_t>(file.size)});
    if (file.size == 0) word.completesFile = static_cast<int32_t>(index);
    ready_.push_back(std::move(word));
  }
}

void MailDelivery::ChunkRead(size_t file, int64_t offset, std::vector<uint8_t> bytes, bool ok) {
  readInFlight_ = false;
  if (status_ != Status::Working) return;
  if (!ok || file != readingFile_ || offset != readOffset_) {
    server_.runtime.log.Write("Error! Send of File:" + plan_.files[file].path + " to " + host_);
    Fail();
    return;
  }
  readOffset_ += static_cast<int64_t>(bytes.size());
  Segment segment;
  segment.bytes = std::move(bytes);
  if (readOffset_ >= plan_.files[file].size) segment.completesFile = static_cast<int32_t>(file);
  ready_.push_back(std::move(segment));
  ReadAhead();
  Notify();
}

std::span<const uint8_t> MailDelivery::Ready() const {
  if (ready_.empty() || status_ == Status::Failed) return {};
  const Segment& front = ready_.front();
  return std::span<const uint8_t>(front.bytes).subspan(front.offset);
}

void MailDelivery::Consumed(size_t n) {
  if (ready_.empty()) return;
  Segment& front = ready_.front();
  front.offset = std::min(front.offset + n, front.bytes.size());
  if (front.offset < front.bytes.size()) return;
  if (front.completesFile >= 0) {
    const MailFile& file = plan_.files[static_cast<size_t>(front.completesFile)];
    handledNotices_ += file.notices;
    deliveredFiles_.push_back(file.path);
    state::Metrics::Add(server_.runtime.metrics.mailDelivered);
  }
  ready_.pop_front();
  ReadAhead();
}

void MailDelivery::Notify() {
  const std::function<void()> ready = onReady_;  // the owner may drop this delivery meanwhile
  ready();
}

void MailDelivery::Fail() {
  if (status_ != Status::Working) return;
  status_ = Status::Failed;
  server_.runtime.log.WriteMsg(wire::MsgId::MailSendError, host_);
  Notify();
}

void MailDelivery::End() {
  if (ended_) return;
  ended_ = true;
  *stopped_ = true;
  ready_.clear();
  if (handledNotices_ == 0 && deliveredFiles_.empty()) return;
  try {
    server_.threads.mailboxJobs.Run(
        [&server = server_, host = host_, handled = handledNotices_,
         files = std::move(deliveredFiles_)] { FinishDelivery(server, host, handled, files); });
  } catch (const std::system_error&) {
    // The notices stay: the messages are delivered again with the next delivery.
    server_.runtime.log.WriteMsg(wire::MsgId::SendProcessCreateError, host_);
  }
}

}  // namespace qv::service
