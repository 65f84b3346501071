// Restructure on real datafile and archive files.
#include "store/restructure.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/files.h"
#include "wire/day_record.h"

namespace qv::store {
namespace {

constexpr double kDay0 = 46000;  // a day in 2025

// A record with its day date and a tag byte that tells the copies of one day apart.
std::vector<uint8_t> Record(double date, uint8_t tag) {
  std::vector<uint8_t> record(wire::kDayRecordSize, 0);
  std::memcpy(record.data(), &date, sizeof date);
  record[8] = tag;
  record[wire::kDayRecordSize - 1] = tag;
  return record;
}

struct Day {
  double date;
  uint8_t tag;
};

class RestructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-restructure-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/group.qdb";
    archive_ = dir_ + "/group.arc";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static void WriteDays(const std::string& path, const std::vector<Day>& days) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Day& d : days) {
      const auto r = Record(d.date, d.tag);
      out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
    }
  }
  static std::vector<Day> ReadDays(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size() % wire::kDayRecordSize, 0u) << path;
    std::vector<Day> days;
    for (size_t at = 0; at + wire::kDayRecordSize <= bytes.size(); at += wire::kDayRecordSize) {
      Day d{};
      std::memcpy(&d.date, bytes.data() + at, sizeof d.date);
      d.tag = static_cast<uint8_t>(bytes[at + 8]);
      EXPECT_EQ(bytes[at + 8], bytes[at + wire::kDayRecordSize - 1]) << "torn record in " << path;
      days.push_back(d);
    }
    return days;
  }
  static std::vector<double> DatesOf(const std::vector<Day>& days) {
    std::vector<double> dates;
    for (const Day& d : days) dates.push_back(d.date);
    return dates;
  }
  static std::vector<Day> Range(double from, int n, uint8_t tag) {
    std::vector<Day> days;
    for (int i = 0; i < n; ++i) days.push_back({from + i, tag});
    return days;
  }
  RestructureOptions Options(int maxArchive, RestructureDates dates) const {
    RestructureOptions o;
    o.DatafilePath = data_;
    o.MaxArchive = maxArchive;
    o.Dates = dates;
    o.Backup = false;
    o.Now = kDay0 + 0.5;
    return o;
  }
  std::vector<std::string> FilesInDir() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_, data_, archive_;
};

TEST_F(RestructureTest, ThreeArchiveAndFiveDatafileRecords) {
  WriteDays(archive_, Range(kDay0, 3, 'A'));
  WriteDays(data_, Range(kDay0 + 3, 5, 'D'));
  const StructureInfo info = ReadStructure(data_);
  EXPECT_EQ(info.DataCount, 5);
  EXPECT_EQ(info.ArchiveCount, 3);
  EXPECT_EQ(info.Total(), 8);
  EXPECT_EQ(info.EarliestDate, kDay0);
  EXPECT_EQ(info.DataStartDate, kDay0 + 3);
  EXPECT_EQ(info.LatestDate, kDay0 + 7);
  ASSERT_EQ(info.Dates.size(), 8u);
  // The track bar starts at the first datafile record; its label shows that day.
  EXPECT_EQ(info.Dates[static_cast<size_t>(info.ArchiveCount)], info.DataStartDate);
  EXPECT_EQ(TrackLabelLeft(3, 7, 350, 10), 150 + 10 - 20);
  EXPECT_EQ(TrackLabelLeft(0, 0, 350, 10), -10);

  // Below MaxArchive nothing is dropped; at MaxArchive + 2 the third day is the first kept.
  const BeginChoice keep = BeginForPosition(info, 3, 4);
  EXPECT_FALSE(keep.DropsOldest);
  EXPECT_EQ(keep.BeginDate, kDay0);
  const BeginChoice drop = BeginForPosition(info, 6, 4);
  EXPECT_TRUE(drop.DropsOldest);
  EXPECT_EQ(drop.BeginDate, kDay0 + 2);

  // Moving the boundary to position 5 with room for 10 archive days: 5 archived, 3 kept.
  const RestructureDates dates = DatesForApply(info, 5, info.EarliestDate, info.LatestDate);
  EXPECT_EQ(dates.Boundary, kDay0 + 5);
  const RestructureResult result = Restructure(Options(10, dates));
  EXPECT_FALSE(result.SequenceFault);
  EXPECT_EQ(DatesOf(ReadDays(archive_)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2, kDay0 + 3, kDay0 + 4}));
  EXPECT_EQ(DatesOf(ReadDays(data_)), (std::vector<double>{kDay0 + 5, kDay0 + 6, kDay0 + 7}));
  EXPECT_EQ(result.ArchiveRecords, 5);
  EXPECT_EQ(result.DataRecords, 3);
  EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"group.arc", "group.qdb"}));
}

TEST_F(RestructureTest, ApplyKeepsTheBoundaryInsideTheRange) {
  StructureInfo info;
  info.Dates = {10, 20, 30, 40};
  RestructureDates d = DatesForApply(info, 0, 15, 35);
  EXPECT_EQ(d.Boundary, 15);  // before the begin date: the begin date
  d = DatesForApply(info, 3, 15, 35);
  EXPECT_EQ(d.Boundary, 34);  // on or after the end date: the day before it
  d = DatesForApply(info, 2, 15, 35);
  EXPECT_EQ(d.Boundary, 30);
  d = DatesForApply(info, 9, 15, 50);  // a position past the end takes the last day
  EXPECT_EQ(d.Boundary, 40);
}

TEST_F(RestructureTest, ADayInBothFilesKeepsTheDatafileCopy) {
  WriteDays(archive_, Range(kDay0, 3, 'A'));   // days 0 1 2
  WriteDays(data_, Range(kDay0 + 2, 3, 'D'));  // days 2 3 4
  const StructureInfo info = ReadStructure(data_);
  const RestructureResult result =
      Restructure(Options(10, DatesForApply(info, 3, info.EarliestDate, info.LatestDate)));
  EXPECT_FALSE(result.SequenceFault);
  const std::vector<Day> archive = ReadDays(archive_);
  const std::vector<Day> data = ReadDays(data_);
  ASSERT_EQ(archive.size(), 2u);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0].date, kDay0 + 2);
  EXPECT_EQ(data[0].tag, 'D');
}

// What an insertion cut short by an older server leaves: days 3 and 4 twice in the datafile,
// the second copies stale; and day 2 in the archive too. The first datafile copy is the one the
// server kept up to date.
TEST_F(RestructureTest, TheFirstDatafileCopyOfADayWins) {
  WriteDays(archive_, {{kDay0 + 1, 'A'}, {kDay0 + 2, 'A'}, {kDay0 + 2, 'a'}});
  WriteDays(data_, {{kDay0 + 2, 'D'},
                    {kDay0 + 3, 'D'},
                    {kDay0 + 4, 'D'},
                    {kDay0 + 3, 's'},
                    {kDay0 + 4, 's'},
                    {kDay0 + 5, 'D'}});
  const StructureInfo info = ReadStructure(data_);
  Restructure(Options(1, DatesForApply(info, 3, kDay0, kDay0 + 5)));
  std::vector<Day> all = ReadDays(archive_);
  for (const Day& d : ReadDays(data_)) all.push_back(d);
  ASSERT_EQ(DatesOf(all),
            (std::vector<double>{kDay0 + 1, kDay0 + 2, kDay0 + 3, kDay0 + 4, kDay0 + 5}));
  EXPECT_EQ(all[0].tag, 'A');
  for (size_t i = 1; i < all.size(); ++i) EXPECT_EQ(all[i].tag, 'D') << i;
}

TEST_F(RestructureTest, DescendingDaysAreSortedFirstThenTheRangeApplies) {
  std::vector<Day> days;
  for (int i = 5; i >= 0; --i) days.push_back({kDay0 + i, static_cast<uint8_t>('a' + i)});
  WriteDays(data_, days);
  StructureInfo info = ReadStructure(data_);
  EXPECT_EQ(info.EarliestDate, kDay0 + 5);  // the first record, not the smallest day
  // A range that would drop days: the first run only sorts.
  RestructureResult result = Restructure(Options(0, {kDay0 + 2, kDay0 + 2, kDay0 + 3}));
  EXPECT_TRUE(result.SequenceFault);
  EXPECT_TRUE(result.ShowSequenceWarning());
  EXPECT_EQ(DatesOf(ReadDays(data_)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2, kDay0 + 3, kDay0 + 4, kDay0 + 5}));
  EXPECT_EQ(ReadDays(data_)[3].tag, 'd');
  EXPECT_TRUE(ReadDays(archive_).empty());

  // The second run applies the range: day 2 is the first kept, up to day 3 (end date).
  info = ReadStructure(data_);
  result = Restructure(Options(0, DatesForApply(info, 2, kDay0 + 2, kDay0 + 3)));
  EXPECT_FALSE(result.SequenceFault);
  EXPECT_FALSE(result.ShowSequenceWarning());
  // With no archive pass the datafile pass skips only days up to begin - 2.
  EXPECT_EQ(DatesOf(ReadDays(data_)), (std::vector<double>{kDay0 + 1, kDay0 + 2, kDay0 + 3}));
}

TEST_F(RestructureTest, MaxArchiveZeroPutsEveryKeptDayInTheDatafile) {
  WriteDays(archive_, Range(kDay0, 4, 'A'));
  WriteDays(data_, Range(kDay0 + 4, 4, 'D'));
  const StructureInfo info = ReadStructure(data_);
  const RestructureResult result =
      Restructure(Options(0, DatesForApply(info, 4, info.EarliestDate, info.LatestDate)));
  EXPECT_EQ(result.ArchiveRecords, 0);
  EXPECT_TRUE(std::filesystem::exists(archive_));
  EXPECT_EQ(std::filesystem::file_size(archive_), 0u);
  EXPECT_EQ(ReadDays(data_).size(), 8u);
}

TEST_F(RestructureTest, TheEndDateLimitsTheDatafile) {
  WriteDays(data_,
            {{kDay0, 'a'}, {kDay0 + 1, 'b'}, {kDay0 + 3, 'c'}, {kDay0 + 5, 'd'}, {kDay0 + 6, 'e'}});
  const StructureInfo info = ReadStructure(data_);
  // End on day 4, which is not in the file: day 5 is the first on or after it, still written.
  const RestructureResult result =
      Restructure(Options(0, DatesForApply(info, 0, info.EarliestDate, kDay0 + 4)));
  EXPECT_EQ(DatesOf(ReadDays(data_)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 3, kDay0 + 5}));
  EXPECT_EQ(result.DataRecords, 4);
}

TEST_F(RestructureTest, BackupOnlyWhenTicked) {
  WriteDays(archive_, Range(kDay0, 2, 'A'));
  WriteDays(data_, Range(kDay0 + 2, 2, 'D'));
  const StructureInfo info = ReadStructure(data_);
  RestructureOptions options =
      Options(5, DatesForApply(info, 2, info.EarliestDate, info.LatestDate));
  Restructure(options);
  EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"group.arc", "group.qdb"}));

  options.Backup = true;
  const RestructureResult result = Restructure(options);
  EXPECT_EQ(result.BackupPath, BackupPathFor(data_, options.Now));
  EXPECT_EQ(result.BackupPath.substr(data_.size()), "_Copy_09-12-25 - 12-00");
  // The backup holds the archive records followed by the datafile records.
  EXPECT_EQ(DatesOf(ReadDays(result.BackupPath)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2, kDay0 + 3}));

  // A second run in the same minute keeps the first backup and writes one of its own (named
  // with the seconds), although the first run dropped days that only its backup still holds.
  WriteDays(data_, Range(kDay0 + 7, 1, 'N'));
  const RestructureResult second = Restructure(options);
  EXPECT_EQ(second.BackupPath, result.BackupPath + "-00");
  EXPECT_EQ(DatesOf(ReadDays(result.BackupPath)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2, kDay0 + 3}));
  EXPECT_EQ(DatesOf(ReadDays(second.BackupPath)),
            (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 7}));
  EXPECT_EQ(Restructure(options).BackupPath, result.BackupPath + "-00 (2)");
  EXPECT_EQ(Restructure(options).BackupPath, result.BackupPath + "-00 (3)");

  // Without a time given, the backup is named at the moment it is made.
  options.Now = 0;
  const platform::TDateTime before = platform::Now();
  const std::string name = Restructure(options).BackupPath;
  const platform::TDateTime after = platform::Now();
  EXPECT_TRUE(name == BackupPathFor(data_, before) || name == BackupPathFor(data_, after)) << name;
}

// The plan the dialog asks about matches what the run then does, and a reversed range never
// reaches the files.
TEST_F(RestructureTest, PlanMatchesTheRunAndAReversedRangeIsRefused) {
  // Archive 1..8, datafile 9..12 (day 9 also in the archive).
  WriteDays(archive_, Range(kDay0 + 1, 9, 'A'));
  WriteDays(data_, Range(kDay0 + 9, 4, 'D'));
  const StructureInfo info = ReadStructure(data_);
  // Keep days 5..11 with the boundary at day 9: 4 archive days and day 12 leave.
  const RestructureDates dates = DatesForApply(info, 9, kDay0 + 5, kDay0 + 11);
  const RestructurePlan plan = PlanRestructure(info, dates, 100, kMaxDatafileRecords);
  EXPECT_FALSE(plan.SequenceFault);
  EXPECT_EQ(plan.ArchiveDaysLeaving, 4);
  EXPECT_EQ(plan.DataDaysLeaving, 1);
  EXPECT_EQ(plan.ArchiveRecords, 4);  // days 5..8
  EXPECT_EQ(plan.DataRecords, 3);     // days 9..11
  const RestructureResult result = Restructure(Options(100, dates));
  EXPECT_EQ(result.ArchiveRecords, plan.ArchiveRecords);
  EXPECT_EQ(result.DataRecords, plan.DataRecords);
  EXPECT_EQ(DatesOf(ReadDays(archive_)),
            (std::vector<double>{kDay0 + 5, kDay0 + 6, kDay0 + 7, kDay0 + 8}));
  EXPECT_EQ(ReadDays(data_)[0].tag, 'D') << "the datafile's copy of day 9 wins";

  // A begin date after the end date is refused before any file is opened.
  const auto archiveBefore = ReadDays(archive_).size();
  const auto dataBefore = ReadDays(data_).size();
  RestructureDates reversed{kDay0 + 11, kDay0 + 20, kDay0 + 11};
  EXPECT_FALSE(RangeIsValid(reversed));
  EXPECT_THROW(Restructure(Options(100, reversed)), std::invalid_argument);
  EXPECT_EQ(ReadDays(archive_).size(), archiveBefore);
  EXPECT_EQ(ReadDays(data_).size(), dataBefore);
  EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"group.arc", "group.qdb"}));

  // Out-of-order days: the plan says the run only sorts and nothing leaves.
  WriteDays(data_, {{kDay0 + 30, 'X'}, {kDay0 + 29, 'Y'}});
  const StructureInfo unsorted = ReadStructure(data_);
  const RestructurePlan sortOnly = PlanRestructure(
      unsorted, DatesForApply(unsorted, 0, kDay0 + 29, kDay0 + 29), 0, kMaxDatafileRecords);
  EXPECT_TRUE(sortOnly.SequenceFault);
  EXPECT_EQ(sortOnly.ArchiveDaysLeaving + sortOnly.DataDaysLeaving, 0);
}

TEST_F(RestructureTest, AnInterruptedRunLeavesTheOldFiles) {
  WriteDays(archive_, Range(kDay0, 3, 'A'));
  WriteDays(data_, Range(kDay0 + 3, 5, 'D'));
  const auto before = [&] {
    return std::make_pair(ReadDays(archive_).size(), ReadDays(data_).size());
  };
  const auto counts = before();
  const StructureInfo info = ReadStructure(data_);
  for (const char* stage : {"join", "sort", "archive", "datafile", "replace"}) {
    RestructureOptions options =
        Options(1, DatesForApply(info, 6, kDay0 + 5, info.LatestDate));  // would drop days
    options.OnStage = [stage](const char* now) {
      if (std::strcmp(stage, now) == 0) throw std::runtime_error("disk full");
    };
    EXPECT_THROW(Restructure(options), std::runtime_error) << stage;
    EXPECT_EQ(before(), counts) << stage;
    EXPECT_EQ(ReadDays(data_)[0].date, kDay0 + 3) << stage;
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"group.arc", "group.qdb"})) << stage;
  }
  // A datafile held open unshared by another holder makes the run fail at once.
  {
    auto held = platform::File::Open(data_, platform::OpenMode::Read, true);
    EXPECT_THROW(Restructure(Options(1, {kDay0, kDay0, kDay0 + 9})), platform::FileError);
  }
  EXPECT_EQ(before(), counts);
}

TEST_F(RestructureTest, FewRecordsAndAPartialArchiveTail) {
  WriteDays(data_, {});
  StructureInfo info = ReadStructure(data_);
  EXPECT_EQ(info.Total(), 0);
  EXPECT_EQ(info.EarliestDate, 0);

  // An archive with a torn last record: only whole records are read and rejoined.
  WriteDays(archive_, Range(kDay0, 2, 'A'));
  {
    std::ofstream out(archive_, std::ios::binary | std::ios::app);
    out << "torn";
  }
  WriteDays(data_, Range(kDay0 + 2, 1, 'D'));
  info = ReadStructure(data_);
  EXPECT_EQ(info.ArchiveCount, 2);
  // The boundary (day 2) is the end date, so it moves to the day before.
  Restructure(Options(5, DatesForApply(info, 2, info.EarliestDate, info.LatestDate)));
  EXPECT_EQ(DatesOf(ReadDays(archive_)), (std::vector<double>{kDay0}));
  EXPECT_EQ(DatesOf(ReadDays(data_)), (std::vector<double>{kDay0 + 1, kDay0 + 2}));
}

}  // namespace
}  // namespace qv::store
