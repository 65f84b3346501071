#include "service/outbox.h"

#include <algorithm>

#include "platform/system_error.h"
#include "platform/time.h"
#include "service/mail_delivery.h"
#include "state/client_socket.h"

namespace qv::service {

Outbox& OutboxOf(state::Server& server, state::TMyNameUser& user) {
  if (!user.Outbox) user.Outbox = std::make_shared<Outbox>(server, user);
  return static_cast<Outbox&>(*user.Outbox);  // the only kind there is
}

Outbox* ExistingOutbox(state::TMyNameUser& user) {
  return static_cast<Outbox*>(user.Outbox.get());
}

std::string QueueLimitText(const state::TMyNameUser& user, size_t limit) {
  return std::string(kErrorOfSendProcess) + " - " + user.UserName + " (" + user.HostName +
         "): more than " + std::to_string(limit) + " bytes waiting";
}

Outbox::Outbox(state::Server& server, state::TMyNameUser& user) : server_(server), user_(user) {}

// Deliveries still queued are not ended here: at the server's end the mail threads are gone.
Outbox::~Outbox() = default;

bool Outbox::Sendable() const {
  return user_.Connected && !user_.Fault && user_.ClientSocket;
}

void Outbox::Send(const uint8_t* data, size_t length, state::SharedBytes& shared) {
  if (!Sendable() || length == 0) return;
  user_.LastSendTick = platform::TickCount();
  size_t sent = 0;
  if (queue_.empty() && server_.setup.settings.DirectSend) {
    const int64_t written = Write(data, length, false);
    if (written < 0) return;
    sent = static_cast<size_t>(written);
    if (sent == length) {
      ++issued_;
      ++completed_;
      return;
    }
  }
  if (!shared) {
    try {
      std::vector<uint8_t> copy = server_.runtime.sendBuffers.Take(length);
      copy.assign(data, data + length);
      shared = ShareBytes(server_.runtime.sendBuffers, std::move(copy));
    } catch (...) {
      Fault("Create Stream. Error!");
      return;
    }
  }
  if (shared->size() != length) return;  // not these bytes: never sent
  Entry entry;
  entry.bytes = shared;
  entry.offset = sent;
  entry.length = length - sent;
  Enqueue(std::move(entry));
}

void Outbox::Send(const state::SharedBytes& bytes) {
  if (!bytes) return;
  state::SharedBytes shared = bytes;
  Send(bytes->data(), bytes->size(), shared);
}

void Outbox::DeliverMail() {
  if (!Sendable()) return;
  user_.LastSendTick = platform::TickCount();
  std::weak_ptr<Outbox> weak = weak_from_this();
  Entry entry;
  entry.kind = Entry::Kind::Mail;
  entry.mail = std::make_shared<MailDelivery>(server_, user_.HostName, [weak] {
    if (auto self = weak.lock()) self->Flush();
  });
  Enqueue(std::move(entry));
}

void Outbox::HoldUntil(uint64_t ticket) {
  if (!Sendable() || ticket <= synced_) return;
  Entry entry;
  entry.kind = Entry::Kind::Hold;
  entry.ticket = ticket;
  queue_.push_back(std::move(entry));
}

void Outbox::Release(uint64_t syncedTicket) {
  synced_ = std::max(synced_, syncedTicket);
  if (!queue_.empty() && !waitingWritable_) Flush();
}

bool Outbox::Holding() const {
  return std::any_of(queue_.begin(), queue_.end(), [this](const Entry& entry) {
    return entry.kind == Entry::Kind::Hold && entry.ticket > synced_;
  });
}

void Outbox::Restart() {
  Clear();
  issued_ = 0;
  completed_ = 0;
  progressTick_ = 0;
  user_.Fault = false;
}

void Outbox::Drop() {
  Clear();
}

void Outbox::CheckStall(uint32_t nowTick) {
  if (!waitingWritable_) return;
  const int64_t limitMs = int64_t{server_.setup.timeouts.sendIdleLimit} *
                          std::max(server_.setup.timeouts.sendIdleStepMs, 1);
  if (platform::TickDiff(nowTick, progressTick_) <= limitMs) return;
  Fault(user_.Connected ? kErrorOfSendProcess : "");
}

int64_t Outbox::Write(const uint8_t* data, size_t length, bool moreFollows) {
  platform::TcpClient& socket = *user_.ClientSocket;
  size_t total = 0;
  while (total < length) {
    const size_t piece = std::min(length - total, kSendPieceSize);
    // Every call but the last of a run says more follows: the kernel joins them into full
    // segments instead of one segment (and one wake-up of the reader) each.
    const bool more = moreFollows || piece < length - total;
    std::error_code error;
    const int sent = socket.SendBuf(data + total, static_cast<int>(piece), error, more);
    if (sent > 0) {
      total += static_cast<size_t>(std::min<int>(sent, static_cast<int>(piece)));
      continue;
    }
    if (platform::IsWouldBlock(error)) break;
    if (!error && user_.Connected) {
      Fault(kResetSendProcess);  // the connection went while the session still stands
    } else {
      Fault("");
    }
    return -1;
  }
  if (total > 0) progressTick_ = platform::TickCount();
  return static_cast<int64_t>(total);
}

bool Outbox::Enqueue(Entry entry) {
  if (entry.kind == Entry::Kind::Bytes) {
    const size_t cap = server_.setup.limits.sendQueueBytes;
    if (entry.length > cap || bytes_ > cap - entry.length) {
      Fault(QueueLimitText(user_, cap));
      return false;
    }
    bytes_ += entry.length;
    state::Metrics::Max(server_.runtime.metrics.sendQueueBytesMax, static_cast<int64_t>(bytes_));
  }
  ++issued_;
  queue_.push_back(std::move(entry));
  if (queue_.size() > 1) return true;  // the ones before it decide when it goes
  if (queue_.front().kind == Entry::Kind::Mail) {
    Flush();
  } else {
    WaitWritable();
  }
  return true;
}

void Outbox::Flush() {
  if (flushing_) return;  // a delivery that becomes ready while the queue is written
  flushing_ = true;
  size_t turnBytes = 0;
  while (!queue_.empty() && Sendable()) {
    Entry& entry = queue_.front();
    if (entry.kind == Entry::Kind::Hold) {
      if (entry.ticket > synced_) break;
      queue_.pop_front();
      continue;
    }
    if (entry.kind == Entry::Kind::Mail) {
      if (!FlushMail(entry, turnBytes)) break;
      queue_.pop_front();
      ++completed_;
      continue;
    }
    if (turnBytes >= kWriteTurnBytes) {
      WaitWritable();  // the others' turn; the socket is still writable, so this comes back soon
      break;
    }
    const bool moreFollows = queue_.size() > 1 && queue_[1].kind == Entry::Kind::Bytes;
    const int64_t written = Write(entry.bytes->data() + entry.offset, entry.length, moreFollows);
    if (written < 0) break;  // faulted: the queue is gone
    const auto taken = static_cast<size_t>(written);
    entry.offset += taken;
    entry.length -= taken;
    bytes_ -= taken;
    turnBytes += taken;
    if (entry.length > 0) {
      WaitWritable();
      break;
    }
    queue_.pop_front();
    ++completed_;
  }
  flushing_ = false;
}

bool Outbox::FlushMail(Entry& entry, size_t& turnBytes) {
  const std::shared_ptr<MailDelivery> mail = entry.mail;  // a fault below drops the entry
  if (!mail->Started() && !mail->Start()) {
    Fault("");
    return false;
  }
  for (;;) {
    if (mail->Current() == MailDelivery::Status::Failed) {
      Fault("");  // logged by the delivery
      return false;
    }
    const std::span<const uint8_t> ready = mail->Ready();
    if (ready.empty()) break;
    if (turnBytes >= kWriteTurnBytes) {
      WaitWritable();
      return false;
    }
    const int64_t written = Write(ready.data(), ready.size(), false);
    if (written < 0) return false;
    const auto taken = static_cast<size_t>(written);
    turnBytes += taken;
    mail->Consumed(taken);
    if (taken < ready.size()) {
      WaitWritable();
      return false;
    }
  }
  if (mail->Current() != MailDelivery::Status::Done) return false;  // a mail thread reads on
  mail->End();
  return true;
}

void Outbox::WaitWritable() {
  if (waitingWritable_ || !Sendable()) return;
  std::weak_ptr<Outbox> weak = weak_from_this();
  const bool watching = user_.ClientSocket->NotifyWhenWritable([weak] {
    if (auto self = weak.lock()) {
      self->waitingWritable_ = false;
      self->Flush();
    }
  });
  if (!watching) {
    Fault(user_.Connected ? kResetSendProcess : "");
    return;
  }
  waitingWritable_ = true;
  progressTick_ = platform::TickCount();
}

void Outbox::Fault(const std::string& logLine) {
  if (!logLine.empty()) server_.runtime.log.Write(logLine);
  user_.Fault = true;
  Clear();
}

void Outbox::Clear() {
  std::deque<Entry> dropped;
  dropped.swap(queue_);
  for (Entry& entry : dropped) {
    if (entry.mail) entry.mail->End();  // what went of it is removed from the mailbox
  }
  bytes_ = 0;
  if (waitingWritable_ && user_.ClientSocket) user_.ClientSocket->CancelWritableNotice();
  waitingWritable_ = false;
}

}  // namespace qv::service
