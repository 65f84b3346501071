#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "store/datafile.h"
#include "wire/day_record.h"

namespace qv::store {
namespace {

TEST(ShortString, LengthByteIsBoundedByCapacity) {
  uint8_t bytes[16] = {};
  const ShortStringField field{2, 5};
  WriteShortString(bytes, field, "abcdefgh");  // cut to 5
  EXPECT_EQ(bytes[2], 5);
  EXPECT_EQ(ReadShortString(bytes, field), "abcde");
  EXPECT_EQ(bytes[8], 0) << "nothing written past the field";

  bytes[2] = 200;  // a damaged length byte
  EXPECT_EQ(ReadShortString(bytes, field), "abcde");

  uint8_t target[8] = {};
  CopyShortString(target, {0, 3}, bytes, field);
  EXPECT_EQ(target[0], 3);
  EXPECT_EQ(ReadShortString(target, {0, 3}), "abc");
  EXPECT_EQ(target[4], 0);
}

TEST(DayRecordLayout, AccessorsHitTheDocumentedOffsets) {
  DayRecord record{};
  SetDayDate(record, 45000.0);
  SetTitle(record, "Title");
  SetSlotTime(record, 69, "23.00");
  SetSlotText(record, 1, "x");
  SetSlotId(record, 2, 0x01020304);
  SetSlotIdCounter(record, 7);
  SetLine(record, day::LineList::Second, 59, "last");

  EXPECT_EQ(LoadField<double>(record.data()), 45000.0);
  EXPECT_EQ(record[12], 5);
  EXPECT_EQ(record[13], 'T');
  EXPECT_EQ(record[2316 + 69 * 6], 5);
  EXPECT_EQ(record[2736 + 256], 1);
  EXPECT_EQ(LoadField<int32_t>(record.data() + 20666 + 2 * 61), 0x01020304);
  EXPECT_EQ(LoadField<uint16_t>(record.data() + 20664), 7);
  EXPECT_EQ(record[40286 + 59 * 256], 4);
  EXPECT_EQ(40286 + 60 * 256, 55646) << "the last line ends at the reserved tail";

  EXPECT_THROW(SlotTime(record, 70), std::out_of_range);
  EXPECT_THROW(SlotId(record, -1), std::out_of_range);
  EXPECT_THROW(Line(record, day::LineList::First, 60), std::out_of_range);
}

TEST(BlankRecord, HourLabelsForStepZeroAndOne) {
  DayRecord record;
  record.fill(0xAB);  // everything not set must come out zero
  BuildBlankRecord(record, 9, 20, 0);
  EXPECT_EQ(DayDate(record), 0.0);
  EXPECT_EQ(FormatMark(record), 200000033);
  EXPECT_EQ(SlotTime(record, 0), " 9.00");
  EXPECT_EQ(SlotTime(record, 2), "10.00");
  EXPECT_EQ(SlotTime(record, 22), "20.00");
  EXPECT_EQ(SlotTime(record, 24), "");
  for (int slot = 1; slot < day::kSlotCount; slot += 2) EXPECT_EQ(SlotTime(record, slot), "");
  for (int slot = 0; slot < day::kSlotCount; ++slot) {
    EXPECT_EQ(SlotText(record, slot), "");
    EXPECT_EQ(SlotId(record, slot), 0);
  }
  EXPECT_EQ(SlotIdCounter(record), 0);
  EXPECT_EQ(Title(record), "");
  for (size_t offset : day::kMemoLengthOffsets) EXPECT_EQ(record[offset], 0);
  for (size_t i = 0; i < day::kReservedSize; ++i) EXPECT_EQ(record[day::kReservedOffset + i], 0);

  BuildBlankRecord(record, 9, 20, 1);
  const char* expected[] = {" 9.00", "11.00", "13.00", "15.00", "17.00", "19.00", "21.00"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(SlotTime(record, 2 * i), expected[i]) << i;
  EXPECT_EQ(SlotTime(record, 14), "") << "the loop stops after the label past Time End";

  BuildBlankRecord(record, 0, 100, 0);  // more hours than slots: 35 labels at most
  EXPECT_EQ(SlotTime(record, 68), "34.00");
  EXPECT_EQ(SlotTime(record, 69), "");
  BuildBlankRecord(record, 100, 100, 0);
  EXPECT_EQ(SlotTime(record, 0), "100.0") << "cut to five characters";
}

}  // namespace
}  // namespace qv::store
