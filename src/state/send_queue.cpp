#include "state/send_queue.h"

#include <utility>

namespace qv::service {

SendQueue::Added SendQueue::Add(QueuedPiece piece, size_t capBytes, uint64_t& generation) {
  std::lock_guard lock(mutex_);
  if (piece.length > capBytes || bytes_ > capBytes - piece.length) return Added::OverCap;
  bytes_ += piece.length;
  pieces_.push_back(std::move(piece));
  generation = generation_.load();
  if (draining_) return Added::Queued;
  draining_ = true;
  return Added::QueuedStartDrainer;
}

bool SendQueue::Take(uint64_t generation, QueuedPiece& piece) {
  std::lock_guard lock(mutex_);
  if (generation != generation_.load()) return false;
  if (pieces_.empty()) {
    draining_ = false;
    return false;
  }
  piece = std::move(pieces_.front());
  pieces_.pop_front();
  bytes_ -= piece.length;
  return true;
}

size_t SendQueue::Drop() {
  std::deque<QueuedPiece> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(pieces_);
    bytes_ = 0;
    draining_ = false;
    ++generation_;
  }
  return dropped.size();  // the buffers are released outside the lock
}

size_t SendQueue::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t SendQueue::Pieces() const {
  std::lock_guard lock(mutex_);
  return pieces_.size();
}

bool SendQueue::Draining() const {
  std::lock_guard lock(mutex_);
  return draining_;
}

}  // namespace qv::service
