#include "state/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>

#include "support/recording_front_end.h"
#include "support/temp_dir.h"

namespace qv::state {
namespace {

std::string StripTime(const std::string& line) {
  EXPECT_TRUE(std::regex_search(line, std::regex("^\\d\\d:\\d\\d:\\d\\d ")))
      << "no time stamp: " << line;
  return line.size() >= 9 ? line.substr(9) : line;
}

class LogTest : public ::testing::Test {
 protected:
  state::Catalogue catalogue;
  std::recursive_mutex sessionLock;
  state::Log log{catalogue, sessionLock};
  test::RecordingLogView view;
};

TEST_F(LogTest, LinesReachTheViewNewestFirstAtTheFlush) {
  log.Write("one");
  log.Write("two");
  log.WriteMsg(wire::MsgId::Start, "!");
  EXPECT_TRUE(view.lines.empty());
  log.Flush(view);
  ASSERT_EQ(view.lines.size(), 3u);
  EXPECT_EQ(StripTime(view.lines[0]), "Start!!");
  EXPECT_EQ(StripTime(view.lines[1]), "two");
  EXPECT_EQ(StripTime(view.lines[2]), "one");
  EXPECT_EQ(log.Pending(), "");
  log.Write("three");
  log.Flush(view);
  EXPECT_EQ(StripTime(view.lines[0]), "three");
  EXPECT_EQ(view.lines.size(), 4u);
}

TEST_F(LogTest, AFullViewLosesItsTwentyOldestLinesBeforeTheInsert) {
  for (int i = 0; i < 101; ++i) view.lines.push_back("old " + std::to_string(i));
  log.Write("new");
  log.Flush(view);
  ASSERT_EQ(view.lines.size(), 82u);
  EXPECT_EQ(StripTime(view.lines.front()), "new");
  EXPECT_EQ(view.lines.back(), "old 80");
  // Exactly 100 lines are not trimmed.
  view.lines.resize(100);
  log.Write("x");
  log.Flush(view);
  EXPECT_EQ(view.lines.size(), 101u);
}

TEST_F(LogTest, ShortPendingTextWaitsAndAClosedWindowStopsLogging) {
  // A pending text of two characters or fewer stays pending; only a time-stamped line is longer.
  log.Flush(view);
  EXPECT_TRUE(view.lines.empty());
  log.SetWindowOpen(false);
  log.Write("after close");
  EXPECT_EQ(log.Pending(), "");
  log.SetWindowOpen(true);
  log.Flush(view);
  EXPECT_TRUE(view.lines.empty());
}

TEST_F(LogTest, DebugModeAppendsToAnExistingFileOnlyAndTheDebugMarkerSplitsTheLine) {
  test::TempDir dir;
  dir.Write("debug.log", "");
  log.SetDebug(true, dir.File("debug.log"));
  log.Write("\r\n--DEBUG--");
  log.Write("Start!");
  const std::string content = dir.Read("debug.log");
  EXPECT_TRUE(std::regex_match(
      content, std::regex("\\d\\d:\\d\\d:\\d\\d \r\n--DEBUG--\r\n\\d\\d:\\d\\d:\\d\\d Start!\r\n")))
      << content;
  log.Flush(view);
  ASSERT_EQ(view.lines.size(), 3u);
  EXPECT_EQ(view.lines[1].size(), 9u);  // the time and a blank alone
  EXPECT_EQ(view.lines[2], "--DEBUG--");
  // A deleted debug.log is not created again; the view still gets the line.
  std::remove(dir.File("debug.log").c_str());
  log.Write("gone");
  log.Flush(view);
  EXPECT_EQ(StripTime(view.lines[0]), "gone");
  EXPECT_FALSE(std::ifstream(dir.File("debug.log")).good());
  // No line after the window closed, also in debug mode.
  dir.Write("debug.log", "");
  log.SetWindowOpen(false);
  log.Write("closed");
  EXPECT_EQ(dir.Read("debug.log"), "");
}

TEST_F(LogTest, ManyPendingLinesCostLinearTimeAndTheDebugFileStaysOpen) {
  test::TempDir dir;
  dir.Write("debug.log", "");
  log.SetDebug(true, dir.File("debug.log"));
  // Opened once: a line written after the file got another name still reaches it.
  ASSERT_EQ(std::rename(dir.File("debug.log").c_str(), dir.File("moved.log").c_str()), 0);
  log.Write("after the rename");
  EXPECT_NE(dir.Read("moved.log").find("after the rename"), std::string::npos);
  log.SetDebug(false, dir.File("debug.log"));
  log.Flush(view);

  // 200,000 lines pending before a flush: prepending each to the pending text copied hundreds
  // of gigabytes (minutes); appending takes well under a second (seconds under the sanitizers).
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200000; ++i) log.Write("line " + std::to_string(i));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(30));
  const std::string pending = log.Pending();
  EXPECT_EQ(pending.substr(9, 12), "line 199999\r");  // newest first
  EXPECT_EQ(pending.substr(pending.size() - 6), "line 0");
  log.Flush(view);
  EXPECT_EQ(StripTime(view.lines[0]), "line 199999");
}

TEST_F(LogTest, LinesFromManyThreadsAreNeverLostOrInterleaved) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        log.Write("t" + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  log.Flush(view);
  EXPECT_EQ(view.lines.size(), 800u);
  for (const auto& line : view.lines) {
    EXPECT_TRUE(std::regex_match(StripTime(line), std::regex("t\\d line \\d+")));
  }
}

TEST(CatalogueTest, NinetyEntriesWithinCapacityAndRussianHeldInCp1251) {
  for (int i = 0; i < wire::kCatalogueSize; ++i) {
    EXPECT_LE(state::EnglishTable()[i].size(), state::kCatalogueEntryCapacity) << i;
    EXPECT_LE(state::RussianTable()[i].size(), state::kCatalogueEntryCapacity) << i;
  }
  EXPECT_EQ(state::EnglishTable()[19], "");
  EXPECT_EQ(state::RussianTable()[19], "");
  EXPECT_EQ(state::EnglishTable()[89], "Error in processing data from ");
  // "Старт!" in Windows-1251: one byte per letter.
  EXPECT_EQ(state::RussianTable()[13], "\xD1\xF2\xE0\xF0\xF2!");
  state::Catalogue working;
  EXPECT_EQ(working[wire::MsgId::Start], "Start!");
  // The names point at the entries their texts say.
  EXPECT_EQ(working[wire::MsgId::UserOrHostExists], "This user or hostname already exist! -> ");
  EXPECT_EQ(working[wire::MsgId::ReceiveError], "Error in receiving data from ");
  EXPECT_EQ(working[wire::MsgId::CountCorrected], "Count are corrected!");
  EXPECT_EQ(working[wire::MsgId::DataProcessingError], "Error in processing data from ");
  working.Select(state::Language::Russian);
  EXPECT_EQ(working[wire::MsgId::Start], state::RussianTable()[13]);
}

}  // namespace
}  // namespace qv::state
