// Every edit code applied through EditDay to a real datafile.
#include <gtest/gtest.h>

#include <memory>

#include <cmath>
#include <string>

#include "platform/files.h"
#include "request_builder.h"
#include "store/datafile.h"
#include "store/record_store.h"
#include "store_fixture.h"
#include "wire/request_fields.h"

namespace qv::store {
namespace {

using test::Request;
using wire::day::LineList;

constexpr double kDay = 45000;

class EditTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    wire::DayRecord day = Day(kDay, "old title");
    for (int i = 0; i < wire::day::kLineCount; ++i) {
      wire::SetLine(day, LineList::First, i, "a" + std::to_string(i));
      wire::SetLine(day, LineList::Second, i, "b" + std::to_string(i));
    }
    for (int slot = 0; slot < 3; ++slot) {
      wire::SetSlotText(day, slot, "text" + std::to_string(slot));
      wire::SetSlotId(day, slot, 100 + slot);
    }
    wire::Memo(day)[2047] = 0x55;                        // outside what a memo edit replaces
    day[wire::day::kSlotEntriesOffset + 3 * 61] = 0x42;  // an entry byte the server only carries
    day[wire::day::kReservedOffset + 7] = 0x99;          // the reserved tail
    WriteRecords(group_.FileName, {Day(kDay - 1), day, Day(kDay + 1)});
    ASSERT_EQ(BuildIndex(group_.FileName, group_.Index), 0);
    group_.MayInsertFirst = true;
  }

  int32_t Edit(int32_t code, int32_t index, const Request& request) {
    return test::Code(
        EditDay(group_, log_, code, index, request.data(), notice_.data(), after_.get()));
  }
  wire::DayRecord Stored() const { return ReadRecord(group_.FileName, 1); }

  wire::RequestPackage notice_{};
  std::unique_ptr<wire::DayRecord> after_ = std::make_unique<wire::DayRecord>();
  std::string_view NoticeText() const {
    return wire::ReadShortString(notice_.data(), wire::request::kText);
  }
  std::string_view NoticeTime() const {
    return wire::ReadShortString(notice_.data(), wire::request::kSlotTime);
  }
};

TEST_F(EditTest, TitleAndMemo) {
  ASSERT_EQ(Edit(wire::code::kEditTitle, 0, Request(kDay + 0.75).Text("new title")), 0);
  EXPECT_EQ(wire::Title(Stored()), "new title");
  EXPECT_EQ(NoticeText(), "old title");

  ASSERT_EQ(Edit(wire::code::kEditMemo, 0, Request(kDay).Memo(0x31)), 0);
  const wire::DayRecord day = Stored();
  EXPECT_EQ(wire::Memo(day)[0], 0x31);
  EXPECT_EQ(wire::Memo(day)[2046], 0x31);
  EXPECT_EQ(wire::Memo(day)[2047], 0x55) << "only 2047 memo bytes are replaced";
  EXPECT_EQ(notice_.at(wire::request::kMemoOffset), 0) << "the old memo was saved";
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay - 1, kDay, kDay + 1}));
}

TEST_F(EditTest, SlotEditSavesTheOldSlotAndSetsTheIdOnlyWithTheFlag) {
  Request request(kDay);
  request.Text("new text").SlotId(999).Flag(0);
  request.Byte(41, 9).Byte(42, '1').Byte(43, '2').Byte(44, '.').Byte(45, '3').Byte(46, '0');
  ASSERT_EQ(Edit(wire::code::kEditSlot, 2, request), 0);
  wire::DayRecord day = Stored();
  EXPECT_EQ(wire::SlotTime(day, 2), "12.30") << "a long slot time is cut to 5 characters";
  EXPECT_EQ(wire::SlotText(day, 2), "new text");
  EXPECT_EQ(wire::SlotId(day, 2), 102) << "flag 0 keeps the id";
  EXPECT_EQ(NoticeTime(), "10.00");
  EXPECT_EQ(NoticeText(), "text2");
  EXPECT_EQ(wire::LoadField<double>(notice_.data() + 12), kDay);
  EXPECT_EQ(wire::LoadField<int32_t>(notice_.data() + 36), 102);

  ASSERT_EQ(Edit(wire::code::kEditSlot, 2, Request(kDay).Text("x").SlotId(999).Flag(1)), 0);
  day = Stored();
  EXPECT_EQ(wire::SlotId(day, 2), 999);
  EXPECT_EQ(notice_.at(40), 1);
  EXPECT_EQ(day[wire::day::kSlotEntriesOffset + 3 * 61], 0x42);
  EXPECT_EQ(day[wire::day::kReservedOffset + 7], 0x99);
}

TEST_F(EditTest, LineEditsInsertOnlyInModeOne) {
  ASSERT_EQ(Edit(wire::code::kEditFirstLine, 0, Request(kDay).Time("1").Text("new")), 0);
  wire::DayRecord day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::First, 0), "new");
  EXPECT_EQ(wire::Line(day, LineList::First, 1), "a0");
  EXPECT_EQ(wire::Line(day, LineList::First, 59), "a58") << "old line 59 is dropped";
  EXPECT_EQ(NoticeTime(), "1");
  EXPECT_EQ(NoticeText(), "a0");

  ASSERT_EQ(Edit(wire::code::kEditFirstLine, 59, Request(kDay).Time("1").Text("end")), 0);
  day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::First, 59), "end");
  EXPECT_EQ(wire::Line(day, LineList::First, 58), "a57");

  ASSERT_EQ(Edit(wire::code::kEditSecondLine, 5, Request(kDay).Time("0").Text("swap")), 0);
  day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::Second, 5), "swap");
  EXPECT_EQ(wire::Line(day, LineList::Second, 6), "b6") << "any other mode only replaces";
  EXPECT_EQ(wire::Line(day, LineList::First, 5), "a4") << "the first list is not touched";
  EXPECT_EQ(NoticeText(), "b5");
}

TEST_F(EditTest, RemoveThenReinsertMovesALine) {
  ASSERT_EQ(Edit(wire::code::kRemoveFirstLine, 1, Request(kDay)), 0);
  wire::DayRecord day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::First, 1), "a2");
  EXPECT_EQ(wire::Line(day, LineList::First, 58), "a59");
  EXPECT_EQ(wire::Line(day, LineList::First, 59), "");
  EXPECT_EQ(NoticeText(), "a1");

  ASSERT_EQ(Edit(wire::code::kReinsertFirstLine, 3, Request(kDay)), 0);
  day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::First, 2), "a3");
  EXPECT_EQ(wire::Line(day, LineList::First, 3), "a1");
  EXPECT_EQ(wire::Line(day, LineList::First, 4), "a4");
  EXPECT_EQ(wire::Line(day, LineList::First, 59), "a59");

  ASSERT_EQ(Edit(wire::code::kRemoveSecondLine, 0, Request(kDay)), 0);
  ASSERT_EQ(Edit(wire::code::kReinsertSecondLine, 59, Request(kDay)), 0);
  day = Stored();
  EXPECT_EQ(wire::Line(day, LineList::Second, 0), "b1");
  EXPECT_EQ(wire::Line(day, LineList::Second, 58), "b59");
  EXPECT_EQ(wire::Line(day, LineList::Second, 59), "b0");
  EXPECT_EQ(wire::Line(day, LineList::First, 0), "a0");
}

TEST_F(EditTest, InsertAndRemoveSlotsMoveTimeTextAndId) {
  ASSERT_EQ(
      Edit(wire::code::kInsertSlot, 1, Request(kDay).Time("9.30").Text("inserted").SlotId(55)), 0);
  wire::DayRecord day = Stored();
  EXPECT_EQ(wire::SlotText(day, 0), "text0");
  EXPECT_EQ(wire::SlotTime(day, 1), "9.30");
  EXPECT_EQ(wire::SlotText(day, 1), "inserted");
  EXPECT_EQ(wire::SlotId(day, 1), 55);
  EXPECT_EQ(wire::SlotText(day, 2), "text1");
  EXPECT_EQ(wire::SlotTime(day, 2), "");  // the old odd slot 1 had no label
  EXPECT_EQ(wire::SlotId(day, 2), 101);
  EXPECT_EQ(wire::SlotText(day, 3), "text2");
  EXPECT_EQ(wire::SlotTime(day, 3), "10.00");
  EXPECT_EQ(wire::SlotId(day, 3), 102);

  ASSERT_EQ(Edit(wire::code::kRemoveSlot, 0, Request(kDay)), 0);
  day = Stored();
  EXPECT_EQ(wire::SlotText(day, 0), "inserted");
  EXPECT_EQ(wire::SlotId(day, 2), 102);
  EXPECT_EQ(wire::SlotTime(day, 69), "");
  EXPECT_EQ(wire::SlotText(day, 69), "");
  EXPECT_EQ(wire::SlotId(day, 69), 0);

  // No room: slot 69 in use leaves the day as it was.
  ASSERT_EQ(Edit(wire::code::kEditSlot, 69, Request(kDay).Text("last")), 0);
  const std::string before = ReadBytes(group_.FileName);
  ASSERT_EQ(Edit(wire::code::kInsertSlot, 0, Request(kDay).Text("no room").SlotId(1)), 0);
  EXPECT_EQ(ReadBytes(group_.FileName), before);
}

TEST_F(EditTest, SlotIdIsAssignedOnce) {
  wire::DayRecord day = Stored();
  wire::SetSlotIdCounter(day, 2);
  WriteRecords(group_.FileName, {Day(kDay - 1), day, Day(kDay + 1)});
  EXPECT_EQ(MakeSlotId(3, kDay), 241608);

  ASSERT_EQ(Edit(wire::code::kAssignSlotId, 5, Request(kDay)), 0);
  EXPECT_EQ(wire::SlotId(*after_, 5), 241608) << "the day as written holds the id";
  ASSERT_EQ(Edit(wire::code::kAssignSlotId, 5, Request(kDay)), 0);
  ASSERT_EQ(Edit(wire::code::kAssignSlotId, 1, Request(kDay)), 0);  // has id 101 already
  day = Stored();
  EXPECT_EQ(wire::SlotId(day, 5), 241608);
  EXPECT_EQ(wire::SlotId(day, 1), 101);
  EXPECT_EQ(wire::SlotIdCounter(day), 3);

  EXPECT_EQ(MakeSlotId(0xFFFF, 65536 + 7), static_cast<int32_t>(0xFFFF0007u));
}

TEST_F(EditTest, UnknownCodeStillCreatesTheDayAndDateZeroIsRejected) {
  ASSERT_EQ(Edit(99, 12345, Request(kDay + 5)), 0);
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay - 1, kDay, kDay + 1, kDay + 5}));
  EXPECT_EQ(ReadRecord(group_.FileName, 3), Day(kDay + 5));

  const std::string before = ReadBytes(group_.FileName);
  EXPECT_EQ(Edit(wire::code::kEditTitle, 0, Request(0.4).Text("x")), -1)
      << "refused, not acknowledged";
  EXPECT_EQ(Edit(wire::code::kEditTitle, 0, Request(std::nan("")).Text("x")), -1);
  EXPECT_EQ(ReadBytes(group_.FileName), before);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Incorrect Date in received data.",
                                                  "Incorrect Date in received data."}));
}

TEST_F(EditTest, IndexesOutOfRangeAreRefusedWithoutOpeningTheFile) {
  const std::string before = ReadBytes(group_.FileName);
  // Held by someone else: an attempt to open it would log message 35.
  platform::File holder = platform::File::Open(group_.FileName, platform::OpenMode::Read);
  const struct {
    int32_t code, index;
  } refused[] = {{4, 70},  {4, -1},  {40, 70}, {41, 70},     {51, 70}, {51, -1},
                 {6, 60},  {6, -1},  {7, 60},  {16, 60},     {17, -5}, {26, 60},
                 {27, 60}, {27, -1}, {40, -1}, {41, 1000000}};
  for (const auto& r : refused) {
    EXPECT_EQ(Edit(r.code, r.index, Request(kDay).Text("x")), -1) << r.code << "/" << r.index;
  }
  holder.Close();
  EXPECT_EQ(ReadBytes(group_.FileName), before);
  const auto lines = LogLines();
  EXPECT_EQ(lines.size(), std::size(refused));
  for (const auto& line : lines) EXPECT_EQ(line, "Incorrect values in received data. Team");

  EXPECT_EQ(Edit(wire::code::kEditSlot, 69, Request(kDay)), 0);  // the last valid indexes pass
  EXPECT_EQ(Edit(wire::code::kEditFirstLine, 59, Request(kDay)), 0);
  EXPECT_EQ(Edit(wire::code::kEditTitle, 5000, Request(kDay).Text("t")), 0)
      << "the title uses no index";
  EXPECT_EQ(wire::Title(Stored()), "t");
}

}  // namespace
}  // namespace qv::store
