#include "store/day_edits.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "wire/request_fields.h"

namespace qv::store {
namespace {

using day::LineList;

constexpr size_t kLineFieldSize = day::kLineCapacity + 1;

uint8_t* LineBase(DayBytes r, LineList list) {
  return r.data() + (list == LineList::First ? day::kFirstLinesOffset : day::kSecondLinesOffset);
}

// Lines index..58 move to index+1..59; line 59 is dropped.
void ShiftLinesDown(DayBytes r, LineList list, int index) {
  uint8_t* base = LineBase(r, list);
  std::memmove(base + (index + 1) * kLineFieldSize, base + index * kLineFieldSize,
               (day::kLineCount - 1 - index) * kLineFieldSize);
}

// Lines index+1..59 move to index..58; line 59 becomes empty.
void ShiftLinesUp(DayBytes r, LineList list, int index) {
  uint8_t* base = LineBase(r, list);
  std::memmove(base + index * kLineFieldSize, base + (index + 1) * kLineFieldSize,
               (day::kLineCount - 1 - index) * kLineFieldSize);
  SetLine(r, list, day::kLineCount - 1, {});
}

// Slot `to` takes the time, text and id of slot `from`; the other entry bytes stay.
void CopySlot(DayBytes r, int to, int from) {
  const auto timeTo = day::SlotTimeField(to), timeFrom = day::SlotTimeField(from);
  std::memcpy(r.data() + timeTo.offset, r.data() + timeFrom.offset, timeTo.Size());
  const auto textTo = day::SlotTextField(to), textFrom = day::SlotTextField(from);
  std::memcpy(r.data() + textTo.offset, r.data() + textFrom.offset, textTo.Size());
  SetSlotId(r, to, SlotId(r, from));
}

void EditLine(DayBytes r, LineList list, int index, const uint8_t* request, uint8_t* notice) {
  CopyShortString(notice, request::kSlotTime, request, request::kSlotTime);
  CopyShortString(notice, request::kText, r.data(), day::LineField(list, index));
  if (ReadShortString(request, request::kSlotTime) == "1") ShiftLinesDown(r, list, index);
  CopyShortString(r.data(), day::LineField(list, index), request, request::kText);
}

void RemoveLine(DayBytes r, LineList list, int index, uint8_t* notice) {
  CopyShortString(notice, request::kText, r.data(), day::LineField(list, index));
  ShiftLinesUp(r, list, index);
}

void ReinsertLine(DayBytes r, LineList list, int index, const uint8_t* notice) {
  ShiftLinesDown(r, list, index);
  CopyShortString(r.data(), day::LineField(list, index), notice, request::kText);
}

void EditSlot(DayBytes r, int index, const uint8_t* request, uint8_t* notice, double key) {
  CopyShortString(notice, request::kSlotTime, r.data(), day::SlotTimeField(index));
  CopyShortString(notice, request::kText, r.data(), day::SlotTextField(index));
  StoreField(notice + request::kDateOffset, key);
  notice[request::kFlagOffset] = request[request::kFlagOffset];
  StoreField(notice + request::kSlotIdOffset, SlotId(r, index));
  CopyShortString(r.data(), day::SlotTimeField(index), request, request::kSlotTime);
  CopyShortString(r.data(), day::SlotTextField(index), request, request::kText);
  if (request[request::kFlagOffset] != 0) {
    SetSlotId(r, index, LoadField<int32_t>(request + request::kSlotIdOffset));
  }
}

void InsertSlot(DayBytes r, int index, const uint8_t* request) {
  const int last = day::kSlotCount - 1;
  if (!SlotTime(r, last).empty() || !SlotText(r, last).empty()) return;  // no room
  for (int slot = last - 1; slot >= index; --slot) CopySlot(r, slot + 1, slot);
  CopyShortString(r.data(), day::SlotTimeField(index), request, request::kSlotTime);
  CopyShortString(r.data(), day::SlotTextField(index), request, request::kText);
  SetSlotId(r, index, LoadField<int32_t>(request + request::kSlotIdOffset));
}

void RemoveSlot(DayBytes r, int index) {
  const int last = day::kSlotCount - 1;
  for (int slot = index; slot < last; ++slot) CopySlot(r, slot, slot + 1);
  SetSlotTime(r, last, {});
  SetSlotText(r, last, {});
  SetSlotId(r, last, 0);
}

void AssignSlotId(DayBytes r, int index) {
  if (SlotId(r, index) != 0) return;  // a slot keeps the id it has
  const auto counter = static_cast<uint16_t>(SlotIdCounter(r) + 1);
  SetSlotIdCounter(r, counter);
  SetSlotId(r, index, MakeSlotId(counter, DayDate(r)));
}

}  // namespace

bool EditIndexInRange(int32_t code, int32_t index) {
  switch (code) {
    case kEditSlot:
    case kInsertSlot:
    case kRemoveSlot:
    case kAssignSlotId:
      return day::IsSlotIndex(index);
    case kEditFirstLine:
    case kEditSecondLine:
    case kRemoveFirstLine:
    case kRemoveSecondLine:
    case kReinsertFirstLine:
    case kReinsertSecondLine:
      return day::IsLineIndex(index);
    default:
      return true;
  }
}

int32_t MakeSlotId(uint16_t counter, double date) {
  // fmod keeps the conversion defined for any date a damaged file may hold.
  const double whole = std::trunc(date);
  const double rest = std::isfinite(whole) ? std::fmod(whole, 65536.0) : 0.0;
  const auto dayNumber = static_cast<uint32_t>(static_cast<int32_t>(rest)) & 0xFFFFu;
  return static_cast<int32_t>((static_cast<uint32_t>(counter) << 16) | dayNumber);
}

void ApplyEdit(DayBytes r, int32_t code, int32_t index, const uint8_t* request, uint8_t* notice,
               double key) {
  if (!EditIndexInRange(code, index)) throw std::out_of_range("edit index out of range");
  switch (code) {
    case kEditTitle:
      CopyShortString(notice, request::kText, r.data(), day::kTitle);
      CopyShortString(r.data(), day::kTitle, request, request::kText);
      break;
    case kEditMemo:
      std::memcpy(notice + request::kMemoOffset, r.data() + day::kMemoOffset, day::kMemoEditSize);
      std::memcpy(r.data() + day::kMemoOffset, request + request::kMemoOffset, day::kMemoEditSize);
      break;
    case kEditSlot:
      EditSlot(r, index, request, notice, key);
      break;
    case kEditFirstLine:
      EditLine(r, LineList::First, index, request, notice);
      break;
    case kEditSecondLine:
      EditLine(r, LineList::Second, index, request, notice);
      break;
    case kRemoveFirstLine:
      RemoveLine(r, LineList::First, index, notice);
      break;
    case kRemoveSecondLine:
      RemoveLine(r, LineList::Second, index, notice);
      break;
    case kReinsertFirstLine:
      ReinsertLine(r, LineList::First, index, notice);
      break;
    case kReinsertSecondLine:
      ReinsertLine(r, LineList::Second, index, notice);
      break;
    case kInsertSlot:
      InsertSlot(r, index, request);
      break;
    case kRemoveSlot:
      RemoveSlot(r, index);
      break;
    case kAssignSlotId:
      AssignSlotId(r, index);
      break;
    default:
      break;
  }
}

}  // namespace qv::store
