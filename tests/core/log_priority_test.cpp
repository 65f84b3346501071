#include "core/log_priority.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/console_front_end.h"
#include "state/catalogue.h"

namespace qv {
namespace {

TEST(LogPriorityTest, ErrorsWarningsAndTheRestInBothLanguages) {
  const state::CatalogueTable& en = state::EnglishTable();
  const state::CatalogueTable& ru = state::RussianTable();
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[10]), core::kPriorityInfo);
  EXPECT_EQ(core::LogEntryPriority(en[13]), core::kPriorityInfo);  // without a time stamp
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[11]), core::kPriorityWarning);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[0] + "bob (pc7)"), core::kPriorityError);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[12]), core::kPriorityError);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + ru[0] + "bob (pc7)"), core::kPriorityError);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + ru[75]), core::kPriorityWarning);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + ru[74] + "Office"), core::kPriorityInfo);
  // The longest catalogue text decides: "Warning!" (42) vs. "Warning! Reread the file: " (31),
  // "Error!" (45) vs. "Error! client socket:" (24).
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[31] + "a.qdb"), core::kPriorityWarning);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[24] + "10061"), core::kPriorityError);
  // A host name that looks like an error does not make an information line one.
  EXPECT_EQ(core::LogEntryPriority("12:00:01 " + en[74] + "Error group"), core::kPriorityInfo);
  // Fixed texts outside the catalogue.
  EXPECT_EQ(core::LogEntryPriority("12:00:01 ->Error Connect with pc7"), core::kPriorityError);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 No terminated thread."), core::kPriorityInfo);
  EXPECT_EQ(core::LogEntryPriority("12:00:01 \r\n--DEBUG--"), core::kPriorityInfo);
}

std::string Printed(bool journal, const std::string& flushed) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "<no tmpfile>";
  core::ConsoleLogView(file, journal).InsertAtTop(flushed);
  std::rewind(file);
  std::string out;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) out.append(buffer, n);
  std::fclose(file);
  return out;
}

TEST(LogPriorityTest, JournalLinesCarryTheirPriorityEachLineOfAnEntryToo) {
  // Newest first, as the log hands it over; the debug marker is one entry of two lines.
  const std::string flushed = "12:00:03 " + state::EnglishTable()[12] + "\r\n12:00:02 " +
                              state::EnglishTable()[11] + "\r\n12:00:01 \r\n--DEBUG--";
  // The journal stamps each line itself: ours is left out.
  EXPECT_EQ(Printed(true, flushed),
            "<6>\n<6>--DEBUG--\n<4>Initialization -> with errors!\n"
            "<3>Incorrect Initialization -> Error in settings.\n");
  EXPECT_EQ(Printed(false, flushed),
            "12:00:01 \n--DEBUG--\n12:00:02 Initialization -> with errors!\n"
            "12:00:03 Incorrect Initialization -> Error in settings.\n");
}

}  // namespace
}  // namespace qv
