#pragma once
// The message text of each package the open pages are sent. Every page of a group receives the
// same package object; its text is made by the first page that sends it and shared by the rest,
// instead of each page turning the same change into JSON on its own.
#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "feed/page_codec.h"
#include "state/send_buffers.h"

namespace qv::feed {

class PackageTexts {
 public:
  explicit PackageTexts(const PageCodec& codec) : codec_(codec) {}

  // The text of payload; null when the package is nothing a page shows. Any thread.
  std::shared_ptr<const std::string> TextOf(const state::SharedBytes& payload);

 private:
  struct Entry {
    std::weak_ptr<const std::vector<uint8_t>> payload;  // expired: the entry names nothing
    std::shared_ptr<const std::string> text;
  };
  // Pages lag behind each other by a few packages at most while they keep up; those that fall
  // further behind make the text again.
  static constexpr size_t kKept = 16;

  const PageCodec& codec_;
  std::mutex mutex_;
  std::array<Entry, kKept> entries_;
  size_t next_ = 0;  // the entry to replace next
};

// The text a page is sent for message.
std::string MessageText(const Json& message);

}  // namespace qv::feed
