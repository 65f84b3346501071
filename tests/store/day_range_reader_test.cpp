// Reading a range of days from another thread while the record store edits the same datafile.
#include "store/day_range_reader.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "request_builder.h"
#include "store/record_store.h"
#include "store_fixture.h"

namespace qv::store::test {
namespace {

class DayRangeReaderTest : public StoreFixture {};

std::vector<double> Collect(GroupDatafile& group, double from, double to, int chunk) {
  std::vector<double> days;
  ReadDayRange(
      group, from, to, [&](wire::ConstDayBytes day) { days.push_back(wire::DayDate(day)); }, chunk);
  return days;
}

TEST_F(DayRangeReaderTest, DaysInRangeInOrderOnceEachWhateverTheChunk) {
  WriteDays(group_.FileName, {100, 101, 102, 105, 106, 107, 108, 120});
  for (int chunk : {1, 2, 3, 8}) {
    EXPECT_EQ(Collect(group_, 101, 107, chunk), (std::vector<double>{101, 102, 105, 106, 107}))
        << chunk;
    EXPECT_EQ(Collect(group_, 0, 1000, chunk).size(), 8u);
    EXPECT_TRUE(Collect(group_, 109, 119, chunk).empty());
  }
  // Out of order (a damaged file): every day once, in ascending order, nothing read twice.
  WriteDays(group_.FileName, {100, 104, 102, 103, 101, 105});
  for (int chunk : {1, 2, 8}) {
    const std::vector<double> days = Collect(group_, 0, 1000, chunk);
    for (size_t i = 1; i < days.size(); ++i) EXPECT_LT(days[i - 1], days[i]) << chunk;
    EXPECT_EQ(days.back(), 105);
  }
  const DatafileSummary summary = ReadDatafileSummary(group_);
  EXPECT_EQ(summary.Records, 6);
  EXPECT_EQ(summary.Size, 6 * wire::kDayRecordSize);
  EXPECT_EQ(summary.FirstDay, 100);
  EXPECT_EQ(summary.LastDay, 105);
  EXPECT_GT(summary.ModifiedNs, 0);
}

TEST_F(DayRangeReaderTest, EditsAndInsertionsMeanwhileNeverFailAndNeverTearADay) {
  WriteDays(group_.FileName, {200, 202, 204, 206, 208, 210, 212, 214, 216, 218});
  group_.MayInsertFirst = true;
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!stop) {
      double last = 0;
      try {
        ReadDayRange(
            group_, 190, 230,
            [&](wire::ConstDayBytes day) {
              const double date = wire::DayDate(day);
              // Every record read is whole: its title was written with its date.
              if (date <= last ||
                  wire::Title(day) != (date < 200 || static_cast<int>(date) % 2 == 1
                                           ? "new " + std::to_string(static_cast<int>(date))
                                           : TitleOf(date))) {
                ++bad;
              }
              last = date;
            },
            2);
      } catch (...) {
        ++bad;
      }
      ++reads;
    }
  });
  // Insertions in front of existing days move records while the reader runs.
  for (int d = 219; d >= 191; d -= 2) {
    const std::string title = "new " + std::to_string(d);
    wire::RequestPackage notice{};
    ASSERT_TRUE(
        EditDay(group_, log_, 2, 0, Request(d).Text(title).data(), notice.data()).Accepted());
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (reads < 20 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  EXPECT_FALSE(Logged("Warning! Rewrite the file: "));
  EXPECT_EQ(Collect(group_, 0, 1000, 8).size(), 25u);
}

}  // namespace
}  // namespace qv::store::test
