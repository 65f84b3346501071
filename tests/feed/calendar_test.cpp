// The calendar of a group's days, parsed back with libical.
#include "feed/calendar.h"

#include <gtest/gtest.h>
#include <libical/ical.h>

#include <sstream>
#include <vector>

#include "platform/text_codec.h"
#include "platform/time.h"
#include "store/datafile.h"

namespace qv::feed {
namespace {

TEST(SlotTime, LabelsThatAreTimesAndOnesThatAreNot) {
  EXPECT_EQ(ParseSlotTime(" 9.00"), 9 * 60);
  EXPECT_EQ(ParseSlotTime("10.30"), 10 * 60 + 30);
  EXPECT_EQ(ParseSlotTime("7:05"), 7 * 60 + 5);
  EXPECT_EQ(ParseSlotTime("24.00"), 24 * 60);
  for (const char* label :
       {"", "  ", "9", "9.0", "9.000", "ab.cd", "9.60", ".30", "123.00", "x9.00"}) {
    EXPECT_FALSE(ParseSlotTime(label)) << label;
  }
}

struct Day {
  wire::DayRecord bytes{};
  platform::LocalTime date;
  explicit Day(double when) {
    store::BuildBlankRecord(bytes, 9, 20, 0);  // labels " 9.00" .. "20.00" on the even slots
    wire::SetDayDate(bytes, when);
    date = platform::DecodeDateTime(when);
  }
  int64_t At(int minutes) const {
    return platform::LocalToUnixSeconds(date.year, date.month, date.day, minutes);
  }
};

struct Events {
  std::vector<icalcomponent*> list;
  icalcomponent* calendar = nullptr;
  explicit Events(const std::string& text) {
    calendar = icalparser_parse_string(text.c_str());
    if (calendar == nullptr) return;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT);
         e != nullptr; e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
      list.push_back(e);
    }
  }
  ~Events() {
    if (calendar) icalcomponent_free(calendar);
  }
  icalcomponent* ByUid(const std::string& uid) const {
    for (icalcomponent* e : list) {
      if (uid == icalcomponent_get_uid(e)) return e;
    }
    return nullptr;
  }
};

int64_t Utc(icaltimetype t) {
  return static_cast<int64_t>(icaltime_as_timet_with_zone(t, icaltimezone_get_utc_timezone()));
}

TEST(Calendar, DaysAndSlotsBecomeEventsWithTheirTimesTextsAndUids) {
  const double when = 46000;  // 2025-12-09
  Day day(when);
  const std::string title = platform::Utf8ToCp1251("Совещание; план, итоги");
  wire::SetTitle(day.bytes, title);
  wire::WriteShortString(day.bytes.data(), {268, 255}, platform::Utf8ToCp1251("Память"));
  wire::SetLine(day.bytes, wire::day::LineList::First, 0, "first line");
  wire::SetLine(day.bytes, wire::day::LineList::Second, 5, "second list");
  wire::SetSlotText(day.bytes, 0, "Standup");  // " 9.00", next label "10.00"
  wire::SetSlotTime(day.bytes, 5, "12.30");    // a label of its own
  wire::SetSlotText(day.bytes, 5, "Lunch");
  wire::SetSlotText(day.bytes, 7, "Grid");  // no label: 9 + 3.5 h = 12.30
  wire::SetSlotId(day.bytes, 7, 0x00030000 | 46000);
  wire::SetSlotText(day.bytes, 22, "Late");  // "20.00", the last label: one step
  Day empty(when + 1);                       // nothing in it: no event

  CalendarBuilder builder("Office", "CP1251", SlotGrid{9, 0}, 1765000000);
  builder.AddDay(day.bytes);
  builder.AddDay(empty.bytes);
  EXPECT_EQ(builder.Events(), 5);
  const std::string text = builder.Text();

  // Folded by libical: no line longer than 75 octets.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 76u) << line;
  EXPECT_NE(text.find("X-WR-CALNAME:Office"), std::string::npos);
  EXPECT_NE(text.find("DTSTART;VALUE=DATE:20251209"), std::string::npos) << text;

  Events events(text);
  ASSERT_EQ(events.list.size(), 5u) << text;
  icalcomponent* whole = events.ByUid("day-20251209@Office.quorvane");
  ASSERT_TRUE(whole);
  EXPECT_STREQ(icalcomponent_get_summary(whole), "Совещание; план, итоги");
  EXPECT_STREQ(icalcomponent_get_description(whole), "Память\nfirst line\nsecond list");
  EXPECT_TRUE(icalcomponent_get_dtstart(whole).is_date);
  EXPECT_EQ(Utc(icalcomponent_get_dtstamp(whole)), 1765000000);

  icalcomponent* standup = events.ByUid("slot-20251209-0@Office.quorvane");
  ASSERT_TRUE(standup);
  EXPECT_EQ(Utc(icalcomponent_get_dtstart(standup)), day.At(9 * 60));
  EXPECT_EQ(Utc(icalcomponent_get_dtend(standup)), day.At(10 * 60));

  // Slot 5 starts at its own label 12.30; slot 6's label 12.00 is not later, 13.00 (slot 8) is.
  icalcomponent* lunch = events.ByUid("slot-20251209-5@Office.quorvane");
  ASSERT_TRUE(lunch);
  EXPECT_EQ(Utc(icalcomponent_get_dtstart(lunch)), day.At(12 * 60 + 30));
  EXPECT_EQ(Utc(icalcomponent_get_dtend(lunch)), day.At(13 * 60));

  // Slot 7 has an id: its UID comes from the id.
  icalcomponent* grid =
      events.ByUid("slot-" + std::to_string(0x00030000 | 46000) + "@Office.quorvane");
  ASSERT_TRUE(grid) << text;
  EXPECT_EQ(Utc(icalcomponent_get_dtstart(grid)), day.At(12 * 60 + 30));
  EXPECT_EQ(Utc(icalcomponent_get_dtend(grid)), day.At(13 * 60));

  icalcomponent* late = events.ByUid("slot-20251209-22@Office.quorvane");
  ASSERT_TRUE(late);
  EXPECT_EQ(Utc(icalcomponent_get_dtstart(late)), day.At(20 * 60));
  EXPECT_EQ(Utc(icalcomponent_get_dtend(late)), day.At(21 * 60));
}

// Control characters never reach the feed; a NUL ends a text as it does in the day record.
TEST(Calendar, ControlCharactersAreDroppedAndANulEndsTheText) {
  const double when = 46000;
  Day day(when);
  wire::SetTitle(day.bytes, std::string("Plan\x01\x1b[1m\r\nB\x7f\0hidden", 16));
  wire::SetLine(day.bytes, wire::day::LineList::First, 0, std::string("\0gone", 5));
  wire::SetLine(day.bytes, wire::day::LineList::First, 1, "kept\x0c line");
  wire::SetSlotText(day.bytes, 0, "tab\tkept\x07");
  wire::SetSlotText(day.bytes, 1, std::string("\0", 1));  // empty: no event
  CalendarBuilder builder("Office", "CP1251", SlotGrid{9, 0}, 1765000000);
  builder.AddDay(day.bytes);
  EXPECT_EQ(builder.Events(), 2);
  const std::string text = builder.Text();
  EXPECT_EQ(text.find("hidden"), std::string::npos) << text;
  Events events(text);
  icalcomponent* whole = events.ByUid("day-20251209@Office.quorvane");
  ASSERT_TRUE(whole) << text;
  EXPECT_STREQ(icalcomponent_get_summary(whole), "Plan[1mB");
  EXPECT_STREQ(icalcomponent_get_description(whole), "kept line");
  icalcomponent* slot = events.ByUid("slot-20251209-0@Office.quorvane");
  ASSERT_TRUE(slot) << text;
  EXPECT_STREQ(icalcomponent_get_summary(slot), "tab\tkept");
}

TEST(Calendar, UidsKeepAliasesReadable) {
  EXPECT_EQ(DayUid("Team A/1", 2026, 1, 2), "day-20260102@Team%20A%2F1.quorvane");
  EXPECT_EQ(SlotUid("T", 2026, 1, 2, 7, 0), "slot-20260102-7@T.quorvane");
  EXPECT_EQ(SlotUid("T", 2026, 1, 2, 7, -1), "slot-4294967295@T.quorvane");
}

}  // namespace
}  // namespace qv::feed
