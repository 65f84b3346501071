// The page's JSON: day records and the packages a group's members receive, with their texts
// converted from the office code page.
#include "feed/page_codec.h"

#include "feed/package_texts.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "store/datafile.h"
#include "wire/edit_request.h"
#include "wire/packages.h"

namespace qv::feed {
namespace {

std::vector<uint8_t> Bytes(const wire::RequestPackage& p) {
  return {p.begin(), p.end()};
}

TEST(PageCodec, DatesRoundTripAndNonsenseIsRefused) {
  const auto date = ParseDate("2026-12-09");
  ASSERT_TRUE(date);
  EXPECT_EQ(DateText(*date), "2026-12-09");
  EXPECT_EQ(DateText(*date + 0.75), "2026-12-09");
  EXPECT_EQ(*ParseDate("2026-12-10") - *date, 1.0);
  for (const char* bad :
       {"", "2026-1-09", "2026-02-30", "2026-13-01", "09.12.2026", "2026-12-09x", "abcd-ef-gh"}) {
    EXPECT_FALSE(ParseDate(bad)) << bad;
  }
}

TEST(PageCodec, ADayInTheOfficeCodePageBecomesUtf8Json) {
  PageCodec codec("CP1251");
  wire::DayRecord day{};
  store::BuildBlankRecord(day, 9, 12, 0);
  wire::SetDayDate(day, *ParseDate("2026-12-09"));
  wire::SetTitle(day, platform::Utf8ToCp1251("Планёрка"));
  wire::SetSlotText(day, 1, "Standup");
  wire::SetLine(day, wire::day::LineList::Second, 2, platform::Utf8ToCp1251("Третья"));
  const Json json = codec.Day(day);
  EXPECT_EQ(json["date"], "2026-12-09");
  EXPECT_EQ(json["title"], "Планёрка");
  ASSERT_EQ(json["memo"].size(), 8u);
  // The grid's labels: 9, 10, 11, 12 on the even slots, text on slot 1.
  ASSERT_GE(json["slots"].size(), 7u);
  EXPECT_EQ(json["slots"][0]["time"], " 9.00");
  EXPECT_EQ(json["slots"][1]["text"], "Standup");
  EXPECT_EQ(json["slots"][2]["time"], "10.00");
  EXPECT_EQ(json["first"].size(), 0u);
  ASSERT_EQ(json["second"].size(), 3u);  // up to the last line used
  EXPECT_EQ(json["second"][2], "Третья");
  EXPECT_EQ(codec.ToOffice("Планёрка"), platform::Utf8ToCp1251("Планёрка"));
}

TEST(PageCodec, ForwardedEditsBecomeTheirChange) {
  PageCodec codec("CP1251");
  const double date = *ParseDate("2026-12-09");
  Json title = codec.Package(Bytes(wire::TitleEdit(date, platform::Utf8ToCp1251("Отчёт"))));
  EXPECT_EQ(title, Json({{"type", "title"}, {"date", "2026-12-09"}, {"text", "Отчёт"}}));
  Json slot = codec.Package(Bytes(wire::SlotEdit(date, 4, "11.00", "Call")));
  EXPECT_EQ(slot["type"], "slot");
  EXPECT_EQ(slot["slot"], 4);
  EXPECT_EQ(slot["time"], "11.00");
  EXPECT_EQ(slot["text"], "Call");
  Json memo = codec.Package(Bytes(wire::MemoEdit(date, {"a", "b"})));
  EXPECT_EQ(memo["type"], "memo");
  ASSERT_EQ(memo["lines"].size(), 8u);
  EXPECT_EQ(memo["lines"][1], "b");
  // A line edit: the page reads the day again.
  wire::RequestPackage line = wire::TitleEdit(date, "x");
  wire::SetCodes(line.data(), 16, 3);
  EXPECT_EQ(codec.Package(Bytes(line)), Json({{"type", "changed"}, {"date", "2026-12-09"}}));
  // A cut edit, a mail notice and a keep-alive mean nothing to the page.
  const std::vector<uint8_t> whole = Bytes(line);
  EXPECT_TRUE(codec.Package(std::vector<uint8_t>(whole.begin(), whole.begin() + 40)).is_null());
  EXPECT_TRUE(codec.Package(std::vector<uint8_t>{0x70, 0x17, 0, 0}).is_null());
  EXPECT_TRUE(codec.Package(std::vector<uint8_t>{0, 0, 0, 0}).is_null());
}

TEST(PageCodec, StatusTableSlotsAndCopiedWeeks) {
  PageCodec codec("CP1252");
  namespace ss = wire::status_slot;
  std::vector<uint8_t> table(4 + 2 * ss::kSize, 0);
  wire::SetInt32At(table.data(), 0, wire::code::kStatusTable);
  wire::SetInt32At(table.data(), 4 + ss::kOnLineOffset, 1);
  wire::WriteShortString(table.data() + 4, ss::kUserName, "alice");
  wire::WriteShortString(table.data() + 4, ss::kHostName, "127.0.0.2");
  wire::WriteShortString(table.data() + 4 + ss::kSize, ss::kUserName, "bob");
  const Json online = codec.Package(table);
  EXPECT_EQ(online["type"], "online");
  ASSERT_EQ(online["users"].size(), 2u);
  EXPECT_EQ(online["users"][0], Json({{"name", "alice"}, {"host", "127.0.0.2"}, {"online", true}}));
  EXPECT_EQ(online["users"][1]["online"], false);

  std::vector<uint8_t> slot(ss::kPackageSize, 0);
  wire::SetCodes(slot.data(), wire::code::kReply, wire::subcode::kStatusSlot);
  std::copy(table.begin() + 4, table.begin() + 4 + ss::kSize, slot.begin() + 8);
  EXPECT_EQ(
      codec.Package(slot),
      Json({{"type", "presence"}, {"name", "alice"}, {"host", "127.0.0.2"}, {"online", true}}));

  std::vector<uint8_t> week(wire::days_reply::kWeekReplySize, 0);
  wire::SetCodes(week.data(), wire::code::kReply, wire::subcode::kWeekReply);
  for (int i = 0; i < 7; ++i) {
    uint8_t* day = week.data() + wire::days_reply::kHeaderSize + i * wire::kDayRecordSize;
    wire::StoreField(day, *ParseDate("2026-12-07") + i);
  }
  const Json days = codec.Package(week);
  EXPECT_EQ(days["type"], "days");
  ASSERT_EQ(days["days"].size(), 7u);
  EXPECT_EQ(days["days"][6]["date"], "2026-12-13");
}

// Every page of a group is handed the same package object: its text is made once and shared, a
// package equal in bytes but another object, or one no longer alive, is not mistaken for it.
TEST(PageCodec, APackageTextIsMadeOnceForAllPages) {
  PageCodec codec("CP1251");
  PackageTexts texts(codec);
  const double date = *ParseDate("2026-12-09");
  auto change = std::make_shared<const std::vector<uint8_t>>(Bytes(wire::TitleEdit(date, "Plan")));
  const std::shared_ptr<const std::string> first = texts.TextOf(change);
  ASSERT_TRUE(first);
  EXPECT_EQ(Json::parse(*first), codec.Package(*change));
  EXPECT_EQ(texts.TextOf(change), first);  // the same text object
  auto same = std::make_shared<const std::vector<uint8_t>>(*change);
  EXPECT_NE(texts.TextOf(same), first);
  EXPECT_EQ(*texts.TextOf(same), *first);
  for (int i = 0; i < 40; ++i) {  // more packages than are kept, each freed after its turn
    auto other = std::make_shared<const std::vector<uint8_t>>(
        Bytes(wire::TitleEdit(date, "t" + std::to_string(i))));
    EXPECT_EQ(Json::parse(*texts.TextOf(other))["text"], "t" + std::to_string(i));
  }
  EXPECT_FALSE(texts.TextOf(std::make_shared<const std::vector<uint8_t>>(4, uint8_t{0})));
}

}  // namespace
}  // namespace qv::feed
