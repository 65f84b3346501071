#include "state/mailbox_tally.h"

#include <algorithm>

namespace qv::state {

int64_t MailboxTally::Bytes(const std::string& mailbox, const Count& count) {
  {
    std::lock_guard lock(mutex_);
    auto it = boxes_.find(mailbox);
    if (it != boxes_.end()) return it->second.bytes;
  }
  // Counted outside the lock: it reads files. The caller holds the mailbox open, so nothing
  // changes it meanwhile.
  Box box;
  for (const int64_t size : count()) {
    box.sizes.push_back(size);
    box.bytes += size;
  }
  std::lock_guard lock(mutex_);
  const int64_t bytes = box.bytes;
  boxes_[mailbox] = std::move(box);
  return bytes;
}

void MailboxTally::Appended(const std::string& mailbox, int64_t bytes) {
  std::lock_guard lock(mutex_);
  auto it = boxes_.find(mailbox);
  if (it == boxes_.end()) return;
  it->second.sizes.push_back(bytes);
  it->second.bytes += bytes;
}

void MailboxTally::RemovedFront(const std::string& mailbox, int64_t n) {
  std::lock_guard lock(mutex_);
  auto it = boxes_.find(mailbox);
  if (it == boxes_.end()) return;
  Box& box = it->second;
  for (int64_t i = 0; i < n && !box.sizes.empty(); ++i) {
    box.bytes -= box.sizes.front();
    box.sizes.pop_front();
  }
}

void MailboxTally::Forget(const std::string& mailbox) {
  std::lock_guard lock(mutex_);
  boxes_.erase(mailbox);
}

int64_t MailboxTally::Notices(const std::string& mailbox) const {
  std::lock_guard lock(mutex_);
  auto it = boxes_.find(mailbox);
  return it == boxes_.end() ? -1 : static_cast<int64_t>(it->second.sizes.size());
}

}  // namespace qv::state
