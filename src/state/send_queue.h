#pragma once
// One user's ordered queue of pieces waiting to be sent (the user's write queue). Pieces keep
// the order in which they were issued; one drainer at a time takes them out and sends them with
// blocking sends. A piece refers to a shared immutable buffer, so that the same bytes for many
// users are held once. The queue's generation changes whenever it is dropped: a drainer of an
// older generation takes nothing more and records nothing.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace qv::service {

using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

struct QueuedPiece {
  enum class Kind { Bytes, MailDelivery };
  Kind kind = Kind::Bytes;
  SharedBytes bytes;  // Bytes: the buffer the piece is part of
  size_t offset = 0;
  size_t length = 0;
  int32_t sequence = 0;  // the user's send sequence number of the piece
};

class SendQueue {
 public:
  enum class Added { Queued, QueuedStartDrainer, OverCap };

  // Appends the piece unless the queued bytes would pass capBytes (nothing is changed then).
  // QueuedStartDrainer: no drainer runs, the caller starts one for the returned generation.
  Added Add(QueuedPiece piece, size_t capBytes, uint64_t& generation);
  // The next piece for the drainer of generation. False when the queue is empty (the drainer's
  // turn ends, a later Add starts a new one) or was dropped since.
  bool Take(uint64_t generation, QueuedPiece& piece);
  // Runs record under the queue's lock when generation is still current; false otherwise.
  template <class F>
  bool IfCurrent(uint64_t generation, F record) {
    std::lock_guard lock(mutex_);
    if (generation != generation_.load()) return false;
    record();
    return true;
  }
  bool Current(uint64_t generation) const { return generation == generation_.load(); }
  // Forgets every piece (their buffers are released) and ends the running drainer's turn.
  // Returns the number of pieces dropped.
  size_t Drop();

  size_t Bytes() const;
  size_t Pieces() const;
  bool Draining() const;

 private:
  mutable std::mutex mutex_;
  std::deque<QueuedPiece> pieces_;
  size_t bytes_ = 0;
  bool draining_ = false;
  std::atomic<uint64_t> generation_{1};
};

}  // namespace qv::service
