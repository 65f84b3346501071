#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "store/datafile.h"
#include "store_fixture.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;
using test::StoreFixture;

constexpr double kToday = 45000;
constexpr int64_t kRecord = wire::kDayRecordSize;

std::vector<double> Range(double first, double last) {
  std::vector<double> dates;
  for (double d = first; d <= last; ++d) dates.push_back(d);
  return dates;
}

class DatafileTest : public StoreFixture {
 protected:
  std::string Correct(double today = kToday) {
    auto file = RealFiles().Open(group_.FileName, OpenMode::ReadWrite);
    return CorrectDatafile(RealFiles(), *file, group_.FileName, *group_.BlankRecord, today);
  }
};

TEST_F(DatafileTest, CorrectionFillsGapsWithBlankDays) {
  WriteDays(group_.FileName, {1, 2, 5, 6});
  EXPECT_EQ(Correct(), "");
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  for (int i : {0, 1, 4, 5}) {
    const wire::DayRecord day = ReadRecord(group_.FileName, i);
    EXPECT_EQ(wire::Title(day), TitleOf(wire::DayDate(day))) << "moved days keep their content";
  }
  for (int i : {2, 3}) {
    const wire::DayRecord day = ReadRecord(group_.FileName, i);
    EXPECT_EQ(wire::Title(day), "");
    EXPECT_EQ(wire::SlotTime(day, 0), " 9.00") << "blank days carry the blank labels";
  }

  WriteDays(group_.FileName, {10, 13, 14, 18});  // several gaps
  EXPECT_EQ(Correct(), "");
  EXPECT_EQ(ReadDates(group_.FileName), Range(10, 18));
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 3)), "day 13");
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 8)), "day 18");
}

TEST_F(DatafileTest, CorrectionStopsAtTheHorizonAndLeavesShortFilesAlone) {
  WriteDays(group_.FileName, {kToday, kToday + 2, kToday + 701, kToday + 703});
  EXPECT_EQ(Correct(), "");
  EXPECT_EQ(ReadDates(group_.FileName),
            (std::vector<double>{kToday, kToday + 1, kToday + 2, kToday + 701, kToday + 703}));

  WriteDays(group_.FileName, {5});
  const std::string one = ReadBytes(group_.FileName);
  EXPECT_EQ(Correct(), "");
  EXPECT_EQ(ReadBytes(group_.FileName), one);

  WriteRecords(group_.FileName, {});
  EXPECT_EQ(Correct(), "");
  TmyDBIndex index{{1, 2}};
  EXPECT_EQ(BuildIndex(group_.FileName, index), 0);
  EXPECT_TRUE(index.empty());
}

TEST_F(DatafileTest, NullRecordsAndWildDatesLeaveTheFileUnchanged) {
  WriteDays(group_.FileName, {0, 3, 7});
  std::string before = ReadBytes(group_.FileName);
  EXPECT_EQ(Correct(), "Error correction of database.(First Null record) ");
  EXPECT_EQ(ReadBytes(group_.FileName), before);

  WriteDays(group_.FileName, {1, 3, 0.5, 9});
  before = ReadBytes(group_.FileName);
  EXPECT_EQ(Correct(), "Error correction of database.(Null record) ");
  EXPECT_EQ(ReadBytes(group_.FileName), before);

  // A date far in the past would grow the file past what 32-bit offsets address.
  WriteDays(group_.FileName, {-600000, kToday});
  before = ReadBytes(group_.FileName);
  EXPECT_EQ(Correct(), "Error correction of database.");
  EXPECT_EQ(ReadBytes(group_.FileName), before);
}

TEST_F(DatafileTest, BuildIndexReportsOrderFaults) {
  WriteDays(group_.FileName, {10, 11, 12});
  AppendBytes(group_.FileName, std::string(100, '\x7f'));  // a partial record is not indexed
  TmyDBIndex index;
  EXPECT_EQ(BuildIndex(group_.FileName, index), 0);
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[2].Date, 12);
  EXPECT_EQ(index[2].Offset, 2 * kRecord);

  WriteDays(group_.FileName, {10, 11, 11});
  EXPECT_EQ(BuildIndex(group_.FileName, index), 1);
  WriteDays(group_.FileName, {10, 12, 11});
  EXPECT_EQ(BuildIndex(group_.FileName, index), 1);
  WriteDays(group_.FileName, {-3, 1});
  EXPECT_EQ(BuildIndex(group_.FileName, index), 1) << "a first day at or before 0";

  EXPECT_THROW(BuildIndex(PathOf("missing.qdb"), index), platform::FileError);
}

TEST_F(DatafileTest, RotationMovesPastDaysBeyondCountToTheArchive) {
  group_.Count = 7;
  group_.CountArc = 100;
  WriteDays(group_.FileName, Range(kToday - 10, kToday + 4));  // 10 past days, 5 from today
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(ReadDates(group_.FileName), Range(kToday - 7, kToday + 4));
  EXPECT_EQ(ReadDates(ArchiveName(group_.FileName)), Range(kToday - 10, kToday - 8));
  EXPECT_EQ(wire::Title(ReadRecord(ArchiveName(group_.FileName), 0)), TitleOf(kToday - 10));
  EXPECT_FALSE(group_.MayInsertFirst);
  EXPECT_FALSE(group_.Busy);
  EXPECT_TRUE(LogLines().empty());

  // Days from today on are never archived, whatever Count says.
  group_.Count = 0;
  WriteDays(group_.FileName, Range(kToday, kToday + 3));
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(ReadDates(group_.FileName), Range(kToday, kToday + 3));
}

TEST_F(DatafileTest, ArchiveKeepsItsNewestCountArcRecords) {
  const std::string archive = ArchiveName(group_.FileName);
  EXPECT_EQ(archive, PathOf("team.arc"));
  WriteDays(archive, {kToday - 40, kToday - 39, kToday - 38, kToday - 37});
  AppendBytes(archive, std::string(500, '\x01'));  // a partial record is overwritten
  WriteDays(group_.FileName, Range(kToday - 5, kToday + 1));
  group_.Count = 2;  // moves 3 days: 7 in the archive, 5 kept
  group_.CountArc = 5;
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(ReadDates(archive),
            (std::vector<double>{kToday - 38, kToday - 37, kToday - 5, kToday - 4, kToday - 3}));
  EXPECT_EQ(std::filesystem::file_size(archive), 5u * kRecord);
  EXPECT_EQ(ReadDates(group_.FileName), Range(kToday - 2, kToday + 1));

  // CountArc 0 leaves an empty archive; a new, empty archive does not end MayInsertFirst.
  std::filesystem::remove(archive);
  WriteDays(group_.FileName, Range(kToday - 5, kToday + 1));
  group_.CountArc = 0;
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(std::filesystem::file_size(archive), 0u);
  EXPECT_TRUE(group_.MayInsertFirst);
  EXPECT_EQ(ReadDates(group_.FileName), Range(kToday - 2, kToday + 1));
}

TEST_F(DatafileTest, PrepareSetsMayInsertFirstAndFirstDate) {
  // A short datafile without archive still takes days in front; FirstDate stays 0.
  WriteDays(group_.FileName, {kToday + 1, kToday + 3});
  group_.Count = 10;
  group_.CountArc = 10;
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_FALSE(group_.NoDatafile);
  EXPECT_TRUE(group_.MayInsertFirst);
  EXPECT_EQ(group_.FirstDate, 0);
  ASSERT_EQ(group_.Index.size(), 3u) << "the gap was filled before indexing";
  EXPECT_EQ(LogLines(), std::vector<std::string>{"OK! Data correction - Team"});

  // An archive that exists, even empty, ends it.
  WriteRecords(ArchiveName(group_.FileName), {});
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_FALSE(group_.MayInsertFirst);
  EXPECT_EQ(group_.FirstDate, kToday + 1);
  std::filesystem::remove(ArchiveName(group_.FileName));

  // So does a datafile of more than 60 records; 60 are still fine.
  group_.FirstDate = 0;
  WriteDays(group_.FileName, Range(kToday, kToday + 59));
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_TRUE(group_.MayInsertFirst);
  EXPECT_EQ(group_.FirstDate, 0);
  WriteDays(group_.FileName, Range(kToday, kToday + 60));
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_FALSE(group_.MayInsertFirst);
  EXPECT_EQ(group_.FirstDate, kToday);
}

TEST_F(DatafileTest, PrepareLogsOrderFaultsAndCorrectionTexts) {
  WriteDays(group_.FileName, {kToday, kToday + 2, kToday + 1});
  group_.Count = 10;
  const std::string before = ReadBytes(group_.FileName);
  PrepareGroupDatafile(group_, log_, kToday);
  // Filling the gap among days out of order would add a second blank copy of a real day.
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "Team -> Error correction of database.",
                            "OK! Data correction - Team",
                            "Database Structure Error. Correction required. See Settings -> Team",
                        }));
  EXPECT_EQ(ReadBytes(group_.FileName), before) << "the datafile is left as it was";

  WriteDays(group_.FileName, {kToday, kToday + 2, 0});
  state::Log log(catalogue_, sessionLock_);
  PrepareGroupDatafile(group_, log, kToday);
  const std::string pending = log.Pending();
  EXPECT_NE(pending.find("Team -> Error correction of database.(Null record) "), std::string::npos);
  EXPECT_NE(pending.find("OK! Data correction - Team"), std::string::npos);
}

TEST_F(DatafileTest, FailuresAreReportedAndFlagsCleared) {
  // No datafile name: nothing to do.
  GroupDatafile none;
  none.FileName.clear();
  PrepareGroupDatafile(none, log_, kToday);
  EXPECT_TRUE(none.NoDatafile);

  // A datafile that cannot be opened goes to the caller (which logs message 8).
  group_.FileName = PathOf("missing.qdb");
  EXPECT_THROW(PrepareGroupDatafile(group_, log_, kToday), platform::FileError);
  EXPECT_FALSE(group_.Busy);
  EXPECT_FALSE(group_.MayInsertFirst);
  EXPECT_FALSE(std::filesystem::exists(group_.FileName)) << "start-up never creates it";

  // A failure after opening (the archive cannot be created) is logged with message 29.
  group_.FileName = PathOf("team.qdb");
  std::filesystem::create_directory(ArchiveName(group_.FileName));
  WriteDays(group_.FileName, Range(kToday - 5, kToday));
  group_.Count = 1;
  group_.CountArc = 10;
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_TRUE(Logged("Error in structure of Database:Team"));
  EXPECT_FALSE(group_.MayInsertFirst);
  EXPECT_FALSE(group_.Busy);
  EXPECT_EQ(ReadDates(group_.FileName), Range(kToday - 5, kToday)) << "nothing was lost";

  // Busy means another preparation runs: nothing happens.
  group_.Busy = true;
  group_.MayInsertFirst = true;
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_TRUE(group_.MayInsertFirst);
  EXPECT_TRUE(group_.Busy);
}

}  // namespace
}  // namespace qv::store
