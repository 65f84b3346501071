#pragma once
// The day record: 55766 bytes, one calendar day of a group, the same on disk and on the wire.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "wire/request_fields.h"
#include "wire/short_string.h"

namespace qv::wire {

constexpr int32_t kDayRecordSize = 55766;

using DayRecord = std::array<uint8_t, kDayRecordSize>;

// A day record in any buffer (a DayRecord, an entry of the week cache, a received package).
using DayBytes = std::span<uint8_t, kDayRecordSize>;
using ConstDayBytes = std::span<const uint8_t, kDayRecordSize>;

namespace day {

constexpr size_t kDateOffset = 0;        // double, TDateTime
constexpr size_t kFormatMarkOffset = 8;  // int32
constexpr int32_t kBlankFormatMark = 200000033;

constexpr ShortStringField kTitle{12, 255};

constexpr size_t kMemoOffset = 268;
constexpr size_t kMemoSize = 2048;
constexpr size_t kMemoEditSize = 2047;  // what a memo edit replaces
// The blank record empties the memo as four short strings starting at these offsets.
constexpr std::array<size_t, 4> kMemoLengthOffsets = {268, 524, 780, 1036};

constexpr int kSlotCount = 70;
constexpr size_t kSlotTimesOffset = 2316;
constexpr size_t kSlotTimeCapacity = 5;
constexpr size_t kSlotTextsOffset = 2736;
constexpr size_t kSlotTextCapacity = 255;
constexpr size_t kSlotEntriesOffset = 20656;
constexpr size_t kSlotEntrySize = 61;
constexpr size_t kSlotIdInEntry = 10;           // int32 inside each slot entry
constexpr size_t kSlotIdCounterOffset = 20664;  // uint16, inside the bytes of entry 0
constexpr size_t kSlotIdsOffset = kSlotEntriesOffset + kSlotIdInEntry;  // 20666

constexpr int kLineCount = 60;
constexpr size_t kLineCapacity = 255;
constexpr size_t kFirstLinesOffset = 24926;
constexpr size_t kSecondLinesOffset = 40286;
constexpr size_t kLineListSize = kLineCount * (kLineCapacity + 1);

constexpr size_t kReservedOffset = 55646;
constexpr size_t kReservedSize = 120;

constexpr size_t kSlotTimesSize = kSlotCount * (kSlotTimeCapacity + 1);
constexpr size_t kSlotTextsSize = kSlotCount * (kSlotTextCapacity + 1);
constexpr size_t kSlotEntriesSize = kSlotCount * kSlotEntrySize;

static_assert(kTitle.offset == kFormatMarkOffset + 4);
static_assert(kMemoOffset == kTitle.offset + kTitle.Size());
static_assert(kSlotTimesOffset == kMemoOffset + kMemoSize);
static_assert(kSlotTimesSize == 420);
static_assert(kSlotTextsOffset == kSlotTimesOffset + kSlotTimesSize);
static_assert(kSlotTextsSize == 17920);
static_assert(kSlotEntriesOffset == kSlotTextsOffset + kSlotTextsSize);
static_assert(kSlotEntriesSize == 4270);
static_assert(kSlotIdsOffset == 20666);
static_assert(kSlotIdCounterOffset + 2 <= kSlotIdsOffset);
static_assert(kFirstLinesOffset == kSlotEntriesOffset + kSlotEntriesSize);
static_assert(kLineListSize == 15360);
static_assert(kSecondLinesOffset == kFirstLinesOffset + kLineListSize);
static_assert(kReservedOffset == kSecondLinesOffset + kLineListSize);
static_assert(kReservedOffset + kReservedSize == kDayRecordSize);
// A memo edit carries its text in the request's memo area.
static_assert(kMemoEditSize < kMemoSize && kMemoEditSize <= request::kMemoAreaSize);

enum class LineList { First, Second };

// Fields of slot 0..69 and line 0..59; an index outside those ranges throws std::out_of_range.
ShortStringField SlotTimeField(int slot);
ShortStringField SlotTextField(int slot);
ShortStringField LineField(LineList list, int line);
size_t SlotIdOffset(int slot);

inline bool IsSlotIndex(int32_t index) {
  return index >= 0 && index < kSlotCount;
}
inline bool IsLineIndex(int32_t index) {
  return index >= 0 && index < kLineCount;
}

}  // namespace day

// Accessors on one day record.
inline double DayDate(ConstDayBytes r) {
  return LoadField<double>(r.data() + day::kDateOffset);
}
inline void SetDayDate(DayBytes r, double date) {
  StoreField(r.data() + day::kDateOffset, date);
}
inline int32_t FormatMark(ConstDayBytes r) {
  return LoadField<int32_t>(r.data() + day::kFormatMarkOffset);
}
inline std::string_view Title(ConstDayBytes r) {
  return ReadShortString(r.data(), day::kTitle);
}
inline void SetTitle(DayBytes r, std::string_view text) {
  WriteShortString(r.data(), day::kTitle, text);
}
inline std::span<const uint8_t, day::kMemoSize> Memo(ConstDayBytes r) {
  return r.subspan<day::kMemoOffset, day::kMemoSize>();
}
inline std::span<uint8_t, day::kMemoSize> Memo(DayBytes r) {
  return r.subspan<day::kMemoOffset, day::kMemoSize>();
}
// A DayRecord converts to both spans; these pick by its constness.
inline std::span<uint8_t, day::kMemoSize> Memo(DayRecord& r) {
  return Memo(DayBytes(r));
}
inline std::span<const uint8_t, day::kMemoSize> Memo(const DayRecord& r) {
  return Memo(ConstDayBytes(r));
}

std::string_view SlotTime(ConstDayBytes r, int slot);
void SetSlotTime(DayBytes r, int slot, std::string_view text);
std::string_view SlotText(ConstDayBytes r, int slot);
void SetSlotText(DayBytes r, int slot, std::string_view text);
int32_t SlotId(ConstDayBytes r, int slot);
void SetSlotId(DayBytes r, int slot, int32_t id);
inline uint16_t SlotIdCounter(ConstDayBytes r) {
  return LoadField<uint16_t>(r.data() + day::kSlotIdCounterOffset);
}
inline void SetSlotIdCounter(DayBytes r, uint16_t counter) {
  StoreField(r.data() + day::kSlotIdCounterOffset, counter);
}
std::string_view Line(ConstDayBytes r, day::LineList list, int line);
void SetLine(DayBytes r, day::LineList list, int line, std::string_view text);

// The day number of a date: its whole days, as every comparison of dates uses it.
double DayKey(double date);

}  // namespace qv::wire
