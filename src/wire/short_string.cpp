#include "wire/short_string.h"

#include <algorithm>

namespace qv::wire {

std::string_view ReadShortString(const uint8_t* base, ShortStringField field) {
  const uint8_t* at = base + field.offset;
  const size_t length = std::min<size_t>(at[0], field.capacity);
  return {reinterpret_cast<const char*>(at + 1), length};
}

void WriteShortString(uint8_t* base, ShortStringField field, std::string_view text) {
  const size_t length = std::min({text.size(), field.capacity, size_t{255}});
  uint8_t* at = base + field.offset;
  at[0] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(at + 1, text.data(), length);
}

void CopyShortString(uint8_t* toBase, ShortStringField to, const uint8_t* fromBase,
                     ShortStringField from) {
  // Through a view so that overlapping or identical fields stay correct (memcpy would not).
  const std::string_view text = ReadShortString(fromBase, from);
  const size_t length = std::min(text.size(), to.capacity);
  uint8_t* at = toBase + to.offset;
  std::memmove(at + 1, text.data(), length);
  at[0] = static_cast<uint8_t>(length);
}

}  // namespace qv::wire
