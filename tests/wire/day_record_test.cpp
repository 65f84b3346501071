// The day record: every field inside its area, no two fields sharing a byte, accessors that
// round trip and refuse indexes outside the record.
#include "wire/day_record.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qv::wire {
namespace {

TEST(DayRecordLayout, AccessorsHitTheDocumentedOffsets) {
  wire::DayRecord record{};
  SetDayDate(record, 45000.0);
  SetTitle(record, "Title");
  SetSlotTime(record, 69, "23.00");
  SetSlotText(record, 1, "x");
  SetSlotId(record, 2, 0x01020304);
  SetSlotIdCounter(record, 7);
  SetLine(record, wire::day::LineList::Second, 59, "last");

  EXPECT_EQ(wire::LoadField<double>(record.data()), 45000.0);
  EXPECT_EQ(record[12], 5);
  EXPECT_EQ(record[13], 'T');
  EXPECT_EQ(record[2316 + 69 * 6], 5);
  EXPECT_EQ(record[2736 + 256], 1);
  EXPECT_EQ(wire::LoadField<int32_t>(record.data() + 20666 + 2 * 61), 0x01020304);
  EXPECT_EQ(wire::LoadField<uint16_t>(record.data() + 20664), 7);
  EXPECT_EQ(record[40286 + 59 * 256], 4);
  EXPECT_EQ(40286 + 60 * 256, 55646) << "the last line ends at the reserved tail";

  EXPECT_THROW(SlotTime(record, 70), std::out_of_range);
  EXPECT_THROW(SlotId(record, -1), std::out_of_range);
  EXPECT_THROW(Line(record, wire::day::LineList::First, 60), std::out_of_range);
}

// Marks the bytes of one field; a byte marked twice belongs to two fields.
class Coverage {
 public:
  void Mark(size_t offset, size_t size, const std::string& what) {
    ASSERT_LE(offset + size, owner_.size()) << what << " ends past the record";
    for (size_t i = offset; i < offset + size; ++i) {
      ASSERT_TRUE(owner_[i].empty()) << what << " overlaps " << owner_[i] << " at " << i;
      owner_[i] = what;
    }
  }
  size_t Unmarked() const {
    size_t count = 0;
    for (const std::string& o : owner_) count += o.empty() ? 1 : 0;
    return count;
  }

 private:
  std::vector<std::string> owner_ = std::vector<std::string>(wire::kDayRecordSize);
};

TEST(DayRecordLayout, FieldsTileTheRecordWithoutOverlap) {
  Coverage c;
  c.Mark(wire::day::kDateOffset, 8, "date");
  c.Mark(wire::day::kFormatMarkOffset, 4, "format mark");
  c.Mark(wire::day::kTitle.offset, wire::day::kTitle.Size(), "title");
  c.Mark(wire::day::kMemoOffset, wire::day::kMemoSize, "memo");
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    const wire::ShortStringField time = wire::day::SlotTimeField(slot);
    const wire::ShortStringField text = wire::day::SlotTextField(slot);
    c.Mark(time.offset, time.Size(), "time " + std::to_string(slot));
    c.Mark(text.offset, text.Size(), "text " + std::to_string(slot));
  }
  // The slot entries hold each slot's id (and, in entry 0, the id counter) among other bytes.
  c.Mark(wire::day::kSlotEntriesOffset, wire::day::kSlotEntriesSize, "slot entries");
  for (const auto list : {wire::day::LineList::First, wire::day::LineList::Second}) {
    for (int line = 0; line < wire::day::kLineCount; ++line) {
      const wire::ShortStringField f = wire::day::LineField(list, line);
      c.Mark(f.offset, f.Size(), "line " + std::to_string(line));
    }
  }
  c.Mark(wire::day::kReservedOffset, wire::day::kReservedSize, "reserved");
  EXPECT_EQ(c.Unmarked(), 0u) << "every byte of the record belongs to a field";

  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    const size_t at = wire::day::SlotIdOffset(slot);
    EXPECT_GE(at, wire::day::kSlotEntriesOffset);
    EXPECT_LE(at + 4, wire::day::kSlotEntriesOffset + wire::day::kSlotEntriesSize);
  }
  EXPECT_LE(wire::day::kSlotIdCounterOffset + 2, wire::day::SlotIdOffset(0))
      << "counter before the first id";
}

TEST(DayRecordLayout, EveryAccessorRoundTripsWithoutTouchingItsNeighbours) {
  wire::DayRecord record{};
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    SetSlotTime(record, slot, std::to_string(slot % 24) + ".00");
    SetSlotText(record, slot, "text " + std::to_string(slot));
    SetSlotId(record, slot, 1000 + slot);
  }
  SetSlotIdCounter(record, 0xBEEF);
  for (int line = 0; line < wire::day::kLineCount; ++line) {
    SetLine(record, wire::day::LineList::First, line, "first " + std::to_string(line));
    SetLine(record, wire::day::LineList::Second, line, "second " + std::to_string(line));
  }
  SetTitle(record, std::string(300, 't'));  // cut to the title's 255
  SetDayDate(record, 46001.25);

  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(SlotTime(record, slot), std::to_string(slot % 24) + ".00");
    EXPECT_EQ(SlotText(record, slot), "text " + std::to_string(slot));
    EXPECT_EQ(SlotId(record, slot), 1000 + slot);
  }
  EXPECT_EQ(SlotIdCounter(record), 0xBEEF);
  for (int line = 0; line < wire::day::kLineCount; ++line) {
    EXPECT_EQ(Line(record, wire::day::LineList::First, line), "first " + std::to_string(line));
    EXPECT_EQ(Line(record, wire::day::LineList::Second, line), "second " + std::to_string(line));
  }
  EXPECT_EQ(Title(record), std::string(255, 't'));
  EXPECT_EQ(DayDate(record), 46001.25);
  EXPECT_EQ(FormatMark(record), 0);
  EXPECT_EQ(Memo(record).data(), record.data() + wire::day::kMemoOffset);
  EXPECT_EQ(DayKey(46001.25), 46001.0);

  EXPECT_THROW(SetSlotText(record, wire::day::kSlotCount, "x"), std::out_of_range);
  EXPECT_THROW(SetLine(record, wire::day::LineList::Second, -1, "x"), std::out_of_range);
  EXPECT_FALSE(wire::day::IsSlotIndex(wire::day::kSlotCount));
  EXPECT_TRUE(wire::day::IsLineIndex(wire::day::kLineCount - 1));
}

}  // namespace
}  // namespace qv::wire
