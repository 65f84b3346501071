#pragma once
// The buffers that hold send workers' copies of large pieces, kept for reuse. Allocating and
// freeing a block of a few hundred kilobytes per reply made the allocator hand the memory back
// to the system and fault it in again each time, which cost more than the copy itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qv::state {

// Bytes that several users' outboxes may share; never changed once made.
using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

class SendBuffers {
 public:
  // Pieces below this size use plain allocations; only larger buffers are kept.
  static constexpr size_t kMinKeptBytes = 65536;
  static constexpr size_t kMaxKept = 8;

  // An empty buffer whose capacity is at least size when a kept one fits (else a new one).
  std::vector<uint8_t> Take(size_t size);
  // Keeps the buffer for a later Take when it is large and fewer than kMaxKept are kept.
  void Give(std::vector<uint8_t> buffer);

  size_t Kept() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<uint8_t>> kept_;
};

// A shared buffer for bytes, given back to buffers for reuse once the last holder releases it.
SharedBytes ShareBytes(SendBuffers& buffers, std::vector<uint8_t> bytes);

}  // namespace qv::state
