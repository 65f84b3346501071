#include "platform/time.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

TEST(TimeTest, EncodesAndDecodesKnownDates) {
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2000, 1, 1}), 36526.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2023, 3, 15}), 45000.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2026, 12, 6, 12, 0, 0}), 46362.5);
  const LocalTime t = DecodeDateTime(46362.75);
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 6);
  EXPECT_EQ(t.hour, 18);
  EXPECT_EQ(t.minute, 0);
  // Leap day and round trip of a time with seconds.
  const LocalTime leap{2024, 2, 29, 23, 59, 58};
  const LocalTime back = DecodeDateTime(EncodeDateTime(leap));
  EXPECT_EQ(back.month, 2);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.second, 58);
}

TEST(TimeTest, FormatsFileNamePatternsAndTimeOfDay) {
  const TDateTime t = EncodeDateTime({2026, 12, 6, 18, 53, 7});
  EXPECT_EQ(FormatDateTime(t, "dd-mm-yy - h-nn"), "06-12-26 - 18-53");
  EXPECT_EQ(FormatDateTime(t, "yymmddhhnnss"), "261206185307");
  EXPECT_EQ(FormatDateTime(EncodeDateTime({2026, 1, 2, 3, 4, 5}), "d.m.yyyy h:n:s"),
            "2.1.2026 3:4:5");
  EXPECT_EQ(FormatTimeOfDay(EncodeDateTime({2026, 1, 2, 3, 4, 5})), "03:04:05");
}

TEST(TimeTest, TickDifferenceSurvivesWrap) {
  EXPECT_EQ(TickDiff(5u, 0xFFFFFFF0u), 21);
  EXPECT_EQ(TickDiff(100u, 200u), -100);
  const uint32_t a = TickCount();
  EXPECT_GE(TickDiff(TickCount(), a), 0);
  EXPECT_DOUBLE_EQ(Today(), static_cast<double>(static_cast<int64_t>(Now())));
}

}  // namespace
}  // namespace qv::platform
