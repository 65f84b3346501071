#include "wire/day_record.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace qv::wire {
namespace day {
namespace {

void CheckSlot(int slot) {
  if (!IsSlotIndex(slot)) throw std::out_of_range("slot index " + std::to_string(slot));
}

void CheckLine(int line) {
  if (!IsLineIndex(line)) throw std::out_of_range("line index " + std::to_string(line));
}

}  // namespace

ShortStringField SlotTimeField(int slot) {
  CheckSlot(slot);
  return {kSlotTimesOffset + static_cast<size_t>(slot) * (kSlotTimeCapacity + 1),
          kSlotTimeCapacity};
}

ShortStringField SlotTextField(int slot) {
  CheckSlot(slot);
  return {kSlotTextsOffset + static_cast<size_t>(slot) * (kSlotTextCapacity + 1),
          kSlotTextCapacity};
}

ShortStringField LineField(LineList list, int line) {
  CheckLine(line);
  const size_t base = list == LineList::First ? kFirstLinesOffset : kSecondLinesOffset;
  return {base + static_cast<size_t>(line) * (kLineCapacity + 1), kLineCapacity};
}

size_t SlotIdOffset(int slot) {
  CheckSlot(slot);
  return kSlotIdsOffset + static_cast<size_t>(slot) * kSlotEntrySize;
}

}  // namespace day

std::string_view SlotTime(ConstDayBytes r, int slot) {
  return ReadShortString(r.data(), day::SlotTimeField(slot));
}

void SetSlotTime(DayBytes r, int slot, std::string_view text) {
  WriteShortString(r.data(), day::SlotTimeField(slot), text);
}

std::string_view SlotText(ConstDayBytes r, int slot) {
  return ReadShortString(r.data(), day::SlotTextField(slot));
}

void SetSlotText(DayBytes r, int slot, std::string_view text) {
  WriteShortString(r.data(), day::SlotTextField(slot), text);
}

int32_t SlotId(ConstDayBytes r, int slot) {
  return LoadField<int32_t>(r.data() + day::SlotIdOffset(slot));
}

void SetSlotId(DayBytes r, int slot, int32_t id) {
  StoreField(r.data() + day::SlotIdOffset(slot), id);
}

std::string_view Line(ConstDayBytes r, day::LineList list, int line) {
  return ReadShortString(r.data(), day::LineField(list, line));
}

void SetLine(DayBytes r, day::LineList list, int line, std::string_view text) {
  WriteShortString(r.data(), day::LineField(list, line), text);
}

double DayKey(double date) {
  return std::trunc(date);
}

}  // namespace qv::wire
