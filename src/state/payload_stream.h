#pragma once
// A complete payload as the address-and-mail handler reads it: the receive buffer, or the open
// spool file of a frame too large for memory.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/files.h"

namespace qv::state {

class PayloadStream {
 public:
  explicit PayloadStream(const std::vector<uint8_t>& memory) : memory_(&memory) {}
  explicit PayloadStream(std::optional<platform::File>& spool) : spool_(&spool) {}

  bool Spooled() const { return spool_ != nullptr; }
  int64_t Size() const;
  int64_t Position() const;
  void Seek(int64_t position);
  // Reads up to n bytes from the current position; returns the count (0 at the end).
  size_t Read(void* buffer, size_t n);
  // The open spool file, handed over to the caller; empty for a payload in memory or when it
  // was taken already.
  std::optional<platform::File> TakeSpoolFile();

 private:
  const std::vector<uint8_t>* memory_ = nullptr;
  size_t memoryPosition_ = 0;
  std::optional<platform::File>* spool_ = nullptr;
};

}  // namespace qv::state
