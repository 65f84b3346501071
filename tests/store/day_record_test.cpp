#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "store/datafile.h"
#include "wire/day_record.h"

namespace qv::store {
namespace {

TEST(BlankRecord, HourLabelsForStepZeroAndOne) {
  wire::DayRecord record;
  record.fill(0xAB);  // everything not set must come out zero
  BuildBlankRecord(record, 9, 20, 0);
  EXPECT_EQ(wire::DayDate(record), 0.0);
  EXPECT_EQ(wire::FormatMark(record), 200000033);
  EXPECT_EQ(wire::SlotTime(record, 0), " 9.00");
  EXPECT_EQ(wire::SlotTime(record, 2), "10.00");
  EXPECT_EQ(wire::SlotTime(record, 22), "20.00");
  EXPECT_EQ(wire::SlotTime(record, 24), "");
  for (int slot = 1; slot < wire::day::kSlotCount; slot += 2)
    EXPECT_EQ(wire::SlotTime(record, slot), "");
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    EXPECT_EQ(wire::SlotText(record, slot), "");
    EXPECT_EQ(wire::SlotId(record, slot), 0);
  }
  EXPECT_EQ(wire::SlotIdCounter(record), 0);
  EXPECT_EQ(wire::Title(record), "");
  for (size_t offset : wire::day::kMemoLengthOffsets) EXPECT_EQ(record[offset], 0);
  for (size_t i = 0; i < wire::day::kReservedSize; ++i)
    EXPECT_EQ(record[wire::day::kReservedOffset + i], 0);

  BuildBlankRecord(record, 9, 20, 1);
  const char* expected[] = {" 9.00", "11.00", "13.00", "15.00", "17.00", "19.00", "21.00"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(wire::SlotTime(record, 2 * i), expected[i]) << i;
  EXPECT_EQ(wire::SlotTime(record, 14), "") << "the loop stops after the label past Time End";

  BuildBlankRecord(record, 0, 100, 0);  // more hours than slots: 35 labels at most
  EXPECT_EQ(wire::SlotTime(record, 68), "34.00");
  EXPECT_EQ(wire::SlotTime(record, 69), "");
  BuildBlankRecord(record, 100, 100, 0);
  EXPECT_EQ(wire::SlotTime(record, 0), "100.0") << "cut to five characters";
}

}  // namespace
}  // namespace qv::store
