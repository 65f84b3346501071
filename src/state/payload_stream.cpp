#include "state/payload_stream.h"

#include <algorithm>
#include <cstring>

namespace qv::state {

int64_t PayloadStream::Size() const {
  if (memory_ != nullptr) return static_cast<int64_t>(memory_->size());
  return spool_->has_value() ? (*spool_)->Size() : 0;
}

int64_t PayloadStream::Position() const {
  if (memory_ != nullptr) return static_cast<int64_t>(memoryPosition_);
  return spool_->has_value() ? (*spool_)->Position() : 0;
}

void PayloadStream::Seek(int64_t position) {
  position = std::max<int64_t>(0, position);
  if (memory_ != nullptr) {
    memoryPosition_ = static_cast<size_t>(std::min<int64_t>(position, Size()));
  } else if (spool_->has_value()) {
    (*spool_)->Seek(position);
  }
}

size_t PayloadStream::Read(void* buffer, size_t n) {
  if (memory_ != nullptr) {
    const size_t count = std::min(n, memory_->size() - memoryPosition_);
    if (count > 0) std::memcpy(buffer, memory_->data() + memoryPosition_, count);
    memoryPosition_ += count;
    return count;
  }
  return spool_->has_value() ? (*spool_)->ReadSome(buffer, n) : 0;
}

std::optional<platform::File> PayloadStream::TakeSpoolFile() {
  if (spool_ == nullptr || !spool_->has_value()) return std::nullopt;
  std::optional<platform::File> taken = std::move(*spool_);
  spool_->reset();
  return taken;
}

}  // namespace qv::state
