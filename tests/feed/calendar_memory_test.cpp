// A group whose days are filled to the brim: its calendar stays within the byte cap, the days
// nearest today are in it, one request's peak memory stays far below the whole range's text,
// and the entity tag still answers 304.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "feed/calendar.h"
#include "feed/feed_server.h"
#include "platform/time.h"
#include "store/datafile.h"
#include "support/http_get.h"
#include "support/test_server.h"

namespace qv::feed {
namespace {

using namespace std::chrono_literals;

constexpr int kPastDays = 7;
constexpr int kFutureDays = 365;

// Peak resident memory since the last ResetPeak, in bytes.
int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream refs("/proc/self/clear_refs");
  refs << "5";
  refs.flush();
  return static_cast<bool>(refs);
}

// Every text of the day at its full length, distinct per day and place.
void FillDay(wire::DayRecord& day, double date, int index) {
  store::BuildBlankRecord(day, 9, 20, 0);
  wire::SetDayDate(day, date);
  auto text = [&](char tag, int place) {
    std::string t = tag + std::to_string(index) + "-" + std::to_string(place) + " ";
    while (t.size() < 255) t += static_cast<char>('a' + (t.size() + place) % 26);
    return t;
  };
  wire::SetTitle(day, text('T', 0));
  for (size_t offset : wire::day::kMemoLengthOffsets) {
    wire::WriteShortString(day.data(), {offset, 255}, text('M', static_cast<int>(offset)));
  }
  for (int i = 0; i < wire::day::kLineCount; ++i) {
    wire::SetLine(day, wire::day::LineList::First, i, text('A', i));
    wire::SetLine(day, wire::day::LineList::Second, i, text('B', i));
  }
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    wire::SetSlotText(day, slot, text('S', slot));
  }
}

// Reads one HTTP response and keeps only its size and the last bytes, so that the reader
// itself holds almost nothing while the server's peak is measured.
struct DrainedResponse {
  int64_t bytes = 0;
  std::string head;  // the status line and headers
  std::string tail;
};

std::optional<DrainedResponse> Drain(int port, const std::string& path) {
  DrainedResponse out;
  const bool whole = test::StreamHttpGet("127.0.0.1", port, path, {}, "127.0.0.1", 5000,
                                         [&out](const char* data, size_t size) {
                                           if (out.head.size() < 4096)
                                             out.head.append(data, std::min<size_t>(size, 4096));
                                           out.tail.append(data, size);
                                           if (out.tail.size() > 256)
                                             out.tail.erase(0, out.tail.size() - 256);
                                           out.bytes += static_cast<int64_t>(size);
                                         });
  if (!whole) return std::nullopt;
  return out;
}

TEST(CalendarMemory, AFullRangeIsCappedAndOneRequestStaysSmall) {
  test::IniConfig config;
  config.port = test::FreePortPair();
  config.groups = {{"127.0.0.2::alice"}};
  test::InProcessServer engine(config);
  const std::string datafile = engine.Dir() + "/full.qdb";
  {
    // Every day from a week ago to a year ahead, each filled: about 20 MB of records, whose
    // calendar without a cap would be some 40 MB of text.
    std::ofstream out(datafile, std::ios::binary);
    wire::DayRecord day{};
    const double today = platform::Today();
    for (int i = -kPastDays; i <= kFutureDays; ++i) {
      FillDay(day, today + i, i);
      out.write(reinterpret_cast<const char*>(day.data()), wire::kDayRecordSize);
    }
    ASSERT_TRUE(out.good());
  }
  const int feedPort = test::FreePortPair();
  std::string ini = test::IniText(config);
  ini.replace(ini.find("Name=\r\n"), 7, "Name=" + datafile + "\r\n");
  test::WriteFile(engine.Dir() + "/Server.ini",
                  ini + "[Feed]\r\nPort=" + std::to_string(feedPort) + "\r\n");
  engine.Start();
  FeedTuning tuning;
  tuning.lowPriority = false;
  FeedServer feed(engine.server(), nullptr, tuning);
  feed.Start();
  ASSERT_TRUE(feed.Listening());

  ASSERT_TRUE(ResetPeak());
  const int64_t before = PeakResidentBytes();
  const auto drained = Drain(feedPort, "/groups/Group%201.ics");
  const int64_t peak = PeakResidentBytes() - before;
  ASSERT_TRUE(drained);
  EXPECT_NE(drained->head.find("200 OK"), std::string::npos) << drained->head;
  EXPECT_NE(drained->tail.find("END:VCALENDAR\r\n"), std::string::npos);
  EXPECT_LE(drained->bytes, static_cast<int64_t>(kMaxCalendarBytes + 1024));
  EXPECT_GT(drained->bytes, static_cast<int64_t>(kMaxCalendarBytes * 3 / 4));
  // AddressSanitizer keeps freed memory in quarantine and ThreadSanitizer's allocator and shadow
  // grow with every allocation: under either the peak says nothing of what the request holds.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peak, 16 << 20) << "peak growth " << peak / 1024 << " KiB";
#endif
  std::printf("calendar of %lld bytes, peak resident growth %lld KiB\n",
              static_cast<long long>(drained->bytes), static_cast<long long>(peak / 1024));

  // The days from today on come first; the oldest are what the cap leaves out.
  const auto whole = test::HttpGet("127.0.0.1", feedPort, "/groups/Group%201.ics");
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->status, 200);
  const platform::LocalTime today = platform::DecodeDateTime(platform::Today());
  const platform::LocalTime tomorrow = platform::DecodeDateTime(platform::Today() + 1);
  const platform::LocalTime yesterday = platform::DecodeDateTime(platform::Today() - 1);
  const std::string alias = "Group 1";
  EXPECT_NE(whole->body.find(DayUid(alias, today.year, today.month, today.day)), std::string::npos);
  EXPECT_NE(whole->body.find(DayUid(alias, tomorrow.year, tomorrow.month, tomorrow.day)),
            std::string::npos);
  EXPECT_EQ(whole->body.find(DayUid(alias, yesterday.year, yesterday.month, yesterday.day)),
            std::string::npos);

  // Its entity tag: the same calendar again is not sent.
  const std::string tag = whole->Header("etag");
  ASSERT_FALSE(tag.empty());
  const auto again =
      test::HttpGet("127.0.0.1", feedPort, "/groups/Group%201.ics", {{"If-None-Match", tag}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  feed.Stop();
  engine.Stop();
}

TEST(CalendarMemory, TheBuilderRefusesADayPastItsCapAndEveryDayAfter) {
  wire::DayRecord full{}, small{};
  const double date = 46000;
  FillDay(full, date, 1);
  store::BuildBlankRecord(small, 9, 20, 0);
  wire::SetDayDate(small, date + 1);
  wire::SetTitle(small, "short");

  CalendarBuilder builder("Office", "CP1251", SlotGrid{9, 0}, 1765000000, 8192);
  EXPECT_TRUE(builder.AddDay(small));
  EXPECT_FALSE(builder.AddDay(full));
  EXPECT_FALSE(builder.AddDay(small)) << "once full, later days stay out as well";
  EXPECT_EQ(builder.Events(), 1);
  EXPECT_EQ(builder.DaysLeftOut(), 2);
  const std::string text = builder.Text();
  EXPECT_LE(text.size(), 8192u);
  EXPECT_EQ(text.rfind("END:VCALENDAR\r\n"), text.size() - 15);
  EXPECT_EQ(builder.Take(), text);
}

}  // namespace
}  // namespace qv::feed
