#pragma once
// Little-endian scalar fields and short strings (a length byte followed by a fixed capacity of
// single-byte characters) inside fixed-size byte layouts such as the day record and requests.
// A length byte larger than the capacity (from a client or a damaged file) is read as the
// capacity, so nothing past the field is ever touched.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qv::wire {

static_assert(std::endian::native == std::endian::little,
              "day records and packages are little-endian and copied as raw bytes");

template <typename T>
T LoadField(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void StoreField(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Where a short string sits in a layout: its length byte at offset, capacity characters after.
struct ShortStringField {
  size_t offset;
  size_t capacity;
  constexpr size_t Size() const { return capacity + 1; }
};

// The characters of the field, at most capacity of them.
std::string_view ReadShortString(const uint8_t* base, ShortStringField field);

// Stores text cut to the capacity; bytes behind the new length stay as they were.
void WriteShortString(uint8_t* base, ShortStringField field, std::string_view text);

// Copies a short string between fields of possibly different capacities, cutting it to the
// smaller one.
void CopyShortString(uint8_t* toBase, ShortStringField to, const uint8_t* fromBase,
                     ShortStringField from);

}  // namespace qv::wire
