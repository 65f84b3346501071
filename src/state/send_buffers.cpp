#include "state/send_buffers.h"

#include <utility>

namespace qv::state {

std::vector<uint8_t> SendBuffers::Take(size_t size) {
  if (size >= kMinKeptBytes) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kept_.size(); ++i) {
      if (kept_[i].capacity() < size) continue;
      std::vector<uint8_t> buffer = std::move(kept_[i]);
      kept_[i] = std::move(kept_.back());
      kept_.pop_back();
      buffer.clear();
      return buffer;
    }
  }
  return {};
}

void SendBuffers::Give(std::vector<uint8_t> buffer) {
  if (buffer.capacity() < kMinKeptBytes) return;
  std::lock_guard lock(mutex_);
  if (kept_.size() >= kMaxKept) return;  // enough kept: this one is released
  try {
    kept_.push_back(std::move(buffer));
  } catch (...) {
  }
}

size_t SendBuffers::Kept() const {
  std::lock_guard lock(mutex_);
  return kept_.size();
}

SharedBytes ShareBytes(SendBuffers& buffers, std::vector<uint8_t> bytes) {
  // Should making the shared pointer fail, it calls the deleter, which frees the buffer.
  const auto* held = new std::vector<uint8_t>(std::move(bytes));
  return SharedBytes(held, [&buffers](const std::vector<uint8_t>* released) {
    std::unique_ptr<std::vector<uint8_t>> own(const_cast<std::vector<uint8_t>*>(released));
    try {
      buffers.Give(std::move(*own));
    } catch (...) {
    }
  });
}

}  // namespace qv::state
