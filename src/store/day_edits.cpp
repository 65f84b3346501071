#include "store/day_edits.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "wire/request_fields.h"

namespace qv::store {
namespace {

using wire::day::LineList;

constexpr size_t kLineFieldSize = wire::day::kLineCapacity + 1;

uint8_t* LineBase(wire::DayBytes r, LineList list) {
  return r.data() +
         (list == LineList::First ? wire::day::kFirstLinesOffset : wire::day::kSecondLinesOffset);
}

// Lines index..58 move to index+1..59; line 59 is dropped.
void ShiftLinesDown(wire::DayBytes r, LineList list, int index) {
  uint8_t* base = LineBase(r, list);
  std::memmove(base + (index + 1) * kLineFieldSize, base + index * kLineFieldSize,
               (wire::day::kLineCount - 1 - index) * kLineFieldSize);
}

// Lines index+1..59 move to index..58; line 59 becomes empty.
void ShiftLinesUp(wire::DayBytes r, LineList list, int index) {
  uint8_t* base = LineBase(r, list);
  std::memmove(base + index * kLineFieldSize, base + (index + 1) * kLineFieldSize,
               (wire::day::kLineCount - 1 - index) * kLineFieldSize);
  wire::SetLine(r, list, wire::day::kLineCount - 1, {});
}

// Slot `to` takes the time, text and id of slot `from`; the other entry bytes stay.
void CopySlot(wire::DayBytes r, int to, int from) {
  const auto timeTo = wire::day::SlotTimeField(to), timeFrom = wire::day::SlotTimeField(from);
  std::memcpy(r.data() + timeTo.offset, r.data() + timeFrom.offset, timeTo.Size());
  const auto textTo = wire::day::SlotTextField(to), textFrom = wire::day::SlotTextField(from);
  std::memcpy(r.data() + textTo.offset, r.data() + textFrom.offset, textTo.Size());
  wire::SetSlotId(r, to, wire::SlotId(r, from));
}

void EditLine(wire::DayBytes r, LineList list, int index, const uint8_t* request, uint8_t* notice) {
  wire::CopyShortString(notice, wire::request::kSlotTime, request, wire::request::kSlotTime);
  wire::CopyShortString(notice, wire::request::kText, r.data(), wire::day::LineField(list, index));
  if (wire::ReadShortString(request, wire::request::kSlotTime) == "1")
    ShiftLinesDown(r, list, index);
  wire::CopyShortString(r.data(), wire::day::LineField(list, index), request, wire::request::kText);
}

void RemoveLine(wire::DayBytes r, LineList list, int index, uint8_t* notice) {
  wire::CopyShortString(notice, wire::request::kText, r.data(), wire::day::LineField(list, index));
  ShiftLinesUp(r, list, index);
}

void ReinsertLine(wire::DayBytes r, LineList list, int index, const uint8_t* notice) {
  ShiftLinesDown(r, list, index);
  wire::CopyShortString(r.data(), wire::day::LineField(list, index), notice, wire::request::kText);
}

void EditSlot(wire::DayBytes r, int index, const uint8_t* request, uint8_t* notice, double key) {
  wire::CopyShortString(notice, wire::request::kSlotTime, r.data(),
                        wire::day::SlotTimeField(index));
  wire::CopyShortString(notice, wire::request::kText, r.data(), wire::day::SlotTextField(index));
  wire::StoreField(notice + wire::request::kDateOffset, key);
  notice[wire::request::kSlotFlagOffset] = request[wire::request::kSlotFlagOffset];
  wire::StoreField(notice + wire::request::kSlotIdOffset, wire::SlotId(r, index));
  wire::CopyShortString(r.data(), wire::day::SlotTimeField(index), request,
                        wire::request::kSlotTime);
  wire::CopyShortString(r.data(), wire::day::SlotTextField(index), request, wire::request::kText);
  if (request[wire::request::kSlotFlagOffset] != 0) {
    wire::SetSlotId(r, index, wire::LoadField<int32_t>(request + wire::request::kSlotIdOffset));
  }
}

void InsertSlot(wire::DayBytes r, int index, const uint8_t* request) {
  const int last = wire::day::kSlotCount - 1;
  if (!wire::SlotTime(r, last).empty() || !wire::SlotText(r, last).empty()) return;  // no room
  for (int slot = last - 1; slot >= index; --slot) CopySlot(r, slot + 1, slot);
  wire::CopyShortString(r.data(), wire::day::SlotTimeField(index), request,
                        wire::request::kSlotTime);
  wire::CopyShortString(r.data(), wire::day::SlotTextField(index), request, wire::request::kText);
  wire::SetSlotId(r, index, wire::LoadField<int32_t>(request + wire::request::kSlotIdOffset));
}

void RemoveSlot(wire::DayBytes r, int index) {
  const int last = wire::day::kSlotCount - 1;
  for (int slot = index; slot < last; ++slot) CopySlot(r, slot, slot + 1);
  wire::SetSlotTime(r, last, {});
  wire::SetSlotText(r, last, {});
  wire::SetSlotId(r, last, 0);
}

void AssignSlotId(wire::DayBytes r, int index) {
  if (wire::SlotId(r, index) != 0) return;  // a slot keeps the id it has
  const auto counter = static_cast<uint16_t>(wire::SlotIdCounter(r) + 1);
  wire::SetSlotIdCounter(r, counter);
  wire::SetSlotId(r, index, MakeSlotId(counter, wire::DayDate(r)));
}

}  // namespace

bool EditIndexInRange(int32_t code, int32_t index) {
  switch (code) {
    case wire::code::kEditSlot:
    case wire::code::kInsertSlot:
    case wire::code::kRemoveSlot:
    case wire::code::kAssignSlotId:
      return wire::day::IsSlotIndex(index);
    case wire::code::kEditFirstLine:
    case wire::code::kEditSecondLine:
    case wire::code::kRemoveFirstLine:
    case wire::code::kRemoveSecondLine:
    case wire::code::kReinsertFirstLine:
    case wire::code::kReinsertSecondLine:
      return wire::day::IsLineIndex(index);
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

void ApplyEdit(wire::DayBytes r, int32_t code, int32_t index, const uint8_t* request,
               uint8_t* notice, double key) {
  if (!EditIndexInRange(code, index)) throw std::out_of_range("edit index out of range");
  switch (code) {
    case wire::code::kEditTitle:
      wire::CopyShortString(notice, wire::request::kText, r.data(), wire::day::kTitle);
      wire::CopyShortString(r.data(), wire::day::kTitle, request, wire::request::kText);
      break;
    case wire::code::kEditMemo:
      std::memcpy(notice + wire::request::kMemoOffset, r.data() + wire::day::kMemoOffset,
                  wire::day::kMemoEditSize);
      std::memcpy(r.data() + wire::day::kMemoOffset, request + wire::request::kMemoOffset,
                  wire::day::kMemoEditSize);
      break;
    case wire::code::kEditSlot:
      EditSlot(r, index, request, notice, key);
      break;
    case wire::code::kEditFirstLine:
      EditLine(r, LineList::First, index, request, notice);
      break;
    case wire::code::kEditSecondLine:
      EditLine(r, LineList::Second, index, request, notice);
      break;
    case wire::code::kRemoveFirstLine:
      RemoveLine(r, LineList::First, index, notice);
      break;
    case wire::code::kRemoveSecondLine:
      RemoveLine(r, LineList::Second, index, notice);
      break;
    case wire::code::kReinsertFirstLine:
      ReinsertLine(r, LineList::First, index, notice);
      break;
    case wire::code::kReinsertSecondLine:
      ReinsertLine(r, LineList::Second, index, notice);
      break;
    case wire::code::kInsertSlot:
      InsertSlot(r, index, request);
      break;
    case wire::code::kRemoveSlot:
      RemoveSlot(r, index);
      break;
    case wire::code::kAssignSlotId:
      AssignSlotId(r, index);
      break;
    default:
      break;
  }
}

}  // namespace qv::store
