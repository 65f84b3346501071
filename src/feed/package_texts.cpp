#include "feed/package_texts.h"

namespace qv::feed {

std::string MessageText(const Json& message) {
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::shared_ptr<const std::string> PackageTexts::TextOf(const state::SharedBytes& payload) {
  {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      // A live entry for this object: the address cannot have been reused while it lives.
      if (entry.payload.lock() == payload) return entry.text;
    }
  }
  const Json message = codec_.Package(*payload);
  auto text =
      message.is_null() ? nullptr : std::make_shared<const std::string>(MessageText(message));
  std::lock_guard lock(mutex_);
  entries_[next_] = Entry{payload, text};
  next_ = (next_ + 1) % kKept;
  return text;
}

}  // namespace qv::feed
