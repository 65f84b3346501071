#pragma once
// The fields of a 2351-byte data request (and of the request-shaped ChangeNotice and
// CopyRequest buffers) that the record store reads or fills.
#include <cstddef>
#include <cstdint>

#include "wire/day_record.h"
#include "wire/short_string.h"

namespace qv::store::request {

constexpr size_t kDateOffset = 12;        // double: the day of the request (copy: target day)
constexpr size_t kSourceDateOffset = 20;  // double: source day of a copy-day request
constexpr size_t kPartFlagsOffset = 31;   // 5 bytes: title, memo, slots, first, second list
constexpr int kPartFlagCount = 5;
constexpr size_t kSlotIdOffset = 36;          // int32
constexpr size_t kFlagOffset = 40;            // byte
constexpr ShortStringField kSlotTime{41, 5};  // slot time, or the mode of a list edit
constexpr ShortStringField kText{47, 255};    // title, slot text or line
constexpr size_t kMemoOffset = 303;           // 2047 bytes of memo
constexpr size_t kMemoSize = 2047;

static_assert(kText.offset == kSlotTime.offset + kSlotTime.Size());
static_assert(kMemoOffset == kText.offset + kText.Size());
static_assert(kMemoOffset + kMemoSize <= static_cast<size_t>(kRequestSize));
static_assert(kMemoSize == day::kMemoEditSize);

enum PartFlag {
  kPartTitle = 0,
  kPartMemo = 1,
  kPartSlots = 2,
  kPartFirstList = 3,
  kPartSecondList = 4
};

}  // namespace qv::store::request
