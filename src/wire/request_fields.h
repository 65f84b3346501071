#pragma once
// The data request package: 2351 bytes, the same shape for the requests a client sends, the
// replies built from them and the change notices forwarded to the other members. Every field
// has one name here; what a field means can depend on the code at offset 0.
#include <array>
#include <cstddef>
#include <cstdint>

#include "wire/short_string.h"

namespace qv::wire {
namespace request {

constexpr int32_t kSize = 2351;
constexpr size_t kCodeOffset = 0;     // int32
constexpr size_t kSubcodeOffset = 4;  // int32: 1000's sub-kind, or an edit's slot/line index
constexpr size_t kIndex2Offset = 8;   // int32: slot of 1000/6; the code in a refusal/acknowledgment
constexpr size_t kDateOffset = 12;    // double: the day of the request (copy: target day)
constexpr size_t kMarkOffset = 20;    // double: mark id (7001)
// The same eight bytes read as the source day of a copy-day request (50).
constexpr size_t kSourceDateOffset = kMarkOffset;
constexpr size_t kDaysOffset = 28;       // uint16: days to read (1000/3)
constexpr size_t kMarkFlagOffset = 30;   // byte: 7001 set (1) / clear (0)
constexpr size_t kPartFlagsOffset = 31;  // 5 bytes: title, memo, slots, first, second list
constexpr int kPartFlagCount = 5;
constexpr size_t kSlotIdOffset = 36;          // int32
constexpr size_t kSlotFlagOffset = 40;        // byte: the slot id at kSlotIdOffset is to be kept
constexpr ShortStringField kSlotTime{41, 5};  // slot time, or the mode of a list edit
constexpr ShortStringField kText{47, 255};    // title, slot text or line
constexpr size_t kMemoOffset = 303;           // the memo area, to the end of the package
constexpr size_t kMemoAreaSize = 2048;        // a memo edit takes day::kMemoEditSize of it
// The request header: a mark record and the mark package are exactly these bytes.
constexpr size_t kHeaderSize = 32;
// The least a package must hold to be realigned by two bytes.
constexpr int32_t kRealignShift = 2;

static_assert(kCodeOffset + 4 == kSubcodeOffset && kSubcodeOffset + 4 == kIndex2Offset);
static_assert(kIndex2Offset + 4 == kDateOffset && kDateOffset + 8 == kMarkOffset);
static_assert(kMarkOffset + 8 == kDaysOffset && kDaysOffset + 2 == kMarkFlagOffset);
static_assert(kMarkFlagOffset + 1 == kPartFlagsOffset);
static_assert(kPartFlagsOffset + kPartFlagCount == kSlotIdOffset);
static_assert(kPartFlagsOffset + 1 == kHeaderSize);
static_assert(kSlotIdOffset + 4 == kSlotFlagOffset && kSlotFlagOffset + 1 == kSlotTime.offset);
static_assert(kSlotTime.offset + kSlotTime.Size() == kText.offset);
static_assert(kText.offset + kText.Size() == kMemoOffset);
static_assert(kMemoOffset + kMemoAreaSize == static_cast<size_t>(kSize));

enum PartFlag {
  kPartTitle = 0,
  kPartMemo = 1,
  kPartSlots = 2,
  kPartFirstList = 3,
  kPartSecondList = 4
};

}  // namespace request

using RequestPackage = std::array<uint8_t, request::kSize>;

}  // namespace qv::wire
