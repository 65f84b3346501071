// The browser's edits as data requests: the bytes a native client sends for the same edit, and
// what the record store makes of them.
#include "wire/edit_request.h"

#include <gtest/gtest.h>

#include "store/day_edits.h"
#include "wire/packages.h"

namespace qv::wire {
namespace {

namespace rq = wire::request;

int32_t CodeAt(const wire::RequestPackage& p, size_t offset) {
  return wire::LoadField<int32_t>(p.data() + offset);
}

TEST(EditRequest, TitleAndSlotAreLaidOutAsANativeClientsRequest) {
  const double day = 46000.75;  // the time of day is not sent
  const wire::RequestPackage title = TitleEdit(day, "Planning");
  EXPECT_EQ(CodeAt(title, rq::kCodeOffset), wire::code::kEditTitle);
  EXPECT_EQ(CodeAt(title, rq::kSubcodeOffset), 0);
  EXPECT_EQ(wire::LoadField<double>(title.data() + rq::kDateOffset), 46000.0);
  EXPECT_EQ(wire::ReadShortString(title.data(), rq::kText), "Planning");
  // Everything else stays zero, as in a fresh request buffer.
  wire::RequestPackage expected{};
  wire::SetCodes(expected.data(), 2, 0);
  wire::SetDoubleAt(expected.data(), rq::kDateOffset, 46000.0);
  wire::WriteShortString(expected.data(), rq::kText, "Planning");
  EXPECT_EQ(title, expected);

  const wire::RequestPackage slot = SlotEdit(day, 5, "11.30", std::string(300, 'x'));
  EXPECT_EQ(CodeAt(slot, rq::kCodeOffset), wire::code::kEditSlot);
  EXPECT_EQ(CodeAt(slot, rq::kSubcodeOffset), 5);  // the slot index
  EXPECT_EQ(slot[rq::kSlotFlagOffset], 0);         // the slot keeps its id
  EXPECT_EQ(wire::ReadShortString(slot.data(), rq::kSlotTime), "11.30");
  EXPECT_EQ(wire::ReadShortString(slot.data(), rq::kText).size(), 255u);  // cut to capacity
}

TEST(EditRequest, TheRecordStoreAppliesThemAsItAppliesANativeEdit) {
  wire::DayRecord record{};
  wire::RequestPackage notice{};
  const double day = 46001;
  auto apply = [&](const wire::RequestPackage& request) {
    const int32_t code = CodeAt(request, rq::kCodeOffset);
    const int32_t index = CodeAt(request, rq::kSubcodeOffset);
    ASSERT_TRUE(store::EditIndexInRange(code, index));
    store::ApplyEdit(record, code, index, request.data(), notice.data(), day);
  };
  apply(TitleEdit(day, "Review"));
  EXPECT_EQ(wire::Title(record), "Review");
  apply(SlotEdit(day, 3, "10.30", "Lunch"));
  EXPECT_EQ(wire::SlotTime(record, 3), "10.30");
  EXPECT_EQ(wire::SlotText(record, 3), "Lunch");
  apply(MemoEdit(day, {"first", "", "third", "4", "5", "6", "7", "eighth", "ninth is dropped"}));
  const std::vector<std::string> memo = MemoLines(record);
  ASSERT_EQ(memo.size(), 8u);
  EXPECT_EQ(memo[0], "first");
  EXPECT_EQ(memo[1], "");
  EXPECT_EQ(memo[2], "third");
  EXPECT_EQ(memo[7], "eighth");
  apply(TitleEdit(day, "Renamed"));
  EXPECT_EQ(wire::ReadShortString(notice.data(), rq::kText), "Review");  // what it replaced
}

TEST(EditRequest, CopyNamesSourceTargetAndParts) {
  const wire::RequestPackage copy = CopyDayRequest(46000, 46007, {true, false, true, false, true});
  EXPECT_EQ(CodeAt(copy, rq::kCodeOffset), wire::code::kCopyDay);
  EXPECT_EQ(wire::LoadField<double>(copy.data() + rq::kDateOffset), 46007.0);
  EXPECT_EQ(wire::LoadField<double>(copy.data() + rq::kMarkOffset), 46000.0);
  EXPECT_EQ(copy[rq::kPartFlagsOffset + 0], 1);
  EXPECT_EQ(copy[rq::kPartFlagsOffset + 1], 0);
  EXPECT_EQ(copy[rq::kPartFlagsOffset + 2], 1);
  EXPECT_EQ(copy[rq::kPartFlagsOffset + 3], 0);
  EXPECT_EQ(copy[rq::kPartFlagsOffset + 4], 1);
}

}  // namespace
}  // namespace qv::wire
