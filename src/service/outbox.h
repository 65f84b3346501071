#pragma once
// One user's outbox: everything about sending to that user. Pieces leave in the order they were
// given (the user's send order); what the socket does not take at once waits in the queue and
// is written when the event loop reports the socket writable again, so that the event thread
// never blocks and no thread is parked per busy user. An acknowledgment waiting for its journal
// sync is a hold in the queue: nothing behind it leaves before the sync. Deliveries of stored
// mail take their turn in the same order; their files are read by mail threads. Waiting and held
// bytes count against one cap; past it, or when a send fails or the socket takes nothing for the
// send time-out, the user is faulted: its queue is dropped and nothing more is sent until its
// next session starts. Everything here runs on the event thread.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "state/send_buffers.h"
#include "state/server.h"

namespace qv::service {

class MailDelivery;

inline constexpr const char* kResetSendProcess = "Reset send process";
inline constexpr const char* kErrorOfSendProcess = "Error of send process";
// Bytes per system send.
inline constexpr size_t kSendPieceSize = 4096;
// Bytes written for one user per turn of the event loop before the others get theirs.
inline constexpr size_t kWriteTurnBytes = size_t{1} << 20;

class Outbox final : public state::UserOutbox, public std::enable_shared_from_this<Outbox> {
 public:
  Outbox(state::Server& server, state::TMyNameUser& user);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Sends length bytes. What has to wait is copied into shared, unless shared already holds
  // these bytes (the same piece for several users is copied once).
  void Send(const uint8_t* data, size_t length, state::SharedBytes& shared);
  // Sends all of bytes; what has to wait refers to them without a copy.
  void Send(const state::SharedBytes& bytes);
  // Delivers the user's stored mail in its turn.
  void DeliverMail();

  // Everything sent from now on waits until Release reports ticket synced.
  void HoldUntil(uint64_t ticket);
  // Every ticket up to syncedTicket is synced: what waited for them goes.
  void Release(uint64_t syncedTicket);
  bool Holding() const;

  // Session start: what waited for the last session is dropped, the fault cleared and the send
  // counts zeroed.
  void Restart();
  // Drops everything waiting (a faulty user's reset, shutdown).
  void Drop();
  // Housekeeping: faults the user when its socket took nothing for the send time-out.
  void CheckStall(uint32_t nowTick);

  // Nothing waits.
  bool Idle() const { return queue_.empty(); }
  // Bytes waiting, held ones included.
  size_t QueuedBytes() const { return bytes_; }
  size_t QueuedPieces() const { return queue_.size(); }
  // Pieces given since the session started, and those of them that have left.
  int32_t Issued() const { return issued_; }
  int32_t Completed() const { return completed_; }

 private:
  struct Entry {
    enum class Kind { Bytes, Hold, Mail };
    Kind kind = Kind::Bytes;
    state::SharedBytes bytes;  // Bytes: the buffer the piece is part of
    size_t offset = 0;
    size_t length = 0;
    uint64_t ticket = 0;                 // Hold
    std::shared_ptr<MailDelivery> mail;  // Mail
  };

  bool Sendable() const;
  // Writes what it can of data: the bytes taken, or -1 once the user is faulted.
  int64_t Write(const uint8_t* data, size_t length, bool moreFollows);
  bool Enqueue(Entry entry);
  // Writes from the front of the queue until it is empty, the socket is full, a hold or a mail
  // delivery waits, or this turn's share is written.
  void Flush();
  // One step of the mail delivery at the front: true when it has finished.
  bool FlushMail(Entry& entry, size_t& turnBytes);
  void WaitWritable();
  void Fault(const std::string& logLine);
  void Clear();

  state::Server& server_;
  state::TMyNameUser& user_;
  std::deque<Entry> queue_;
  size_t bytes_ = 0;
  uint64_t synced_ = 0;
  int32_t issued_ = 0;
  int32_t completed_ = 0;
  bool flushing_ = false;
  bool waitingWritable_ = false;
  uint32_t progressTick_ = 0;  // when the socket last took bytes, or the wait began
};

// The user's outbox, made at first use. Event thread.
Outbox& OutboxOf(state::Server& server, state::TMyNameUser& user);
// The user's outbox if it was made, or null. Event thread.
Outbox* ExistingOutbox(state::TMyNameUser& user);

// The text logged when a user's waiting bytes would pass the limit.
std::string QueueLimitText(const state::TMyNameUser& user, size_t limit);

}  // namespace qv::service
