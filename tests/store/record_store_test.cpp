#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/files.h"
#include "request_builder.h"
#include "store/datafile.h"
#include "store/day_insertion.h"
#include "store/file_layer.h"
#include "store/journal.h"
#include "store/record_store.h"
#include "store_fixture.h"
#include "wire/request_fields.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;
using test::Request;

constexpr double kDay = 45000;
constexpr int64_t kRecord = wire::kDayRecordSize;

class RecordStoreTest : public test::StoreFixture {
 protected:
  void Prepare(const std::vector<double>& dates, bool mayInsertFirst) {
    WriteDays(group_.FileName, dates);
    ASSERT_EQ(BuildIndex(group_.FileName, group_.Index), 0);
    group_.MayInsertFirst = mayInsertFirst;
  }
  wire::DayRecord Week(int i) const {
    wire::DayRecord record;
    std::copy_n(group_.Week->Day(i), wire::kDayRecordSize, record.begin());
    return record;
  }
  int32_t SetTitle(double date, const std::string& title) {
    return test::Code(EditDay(group_, log_, wire::code::kEditTitle, 0,
                              Request(date).Text(title).data(), notice_.data()));
  }
  int32_t Copy(wire::LogSink& log) { return test::Code(CopyDay(group_, log, copyRequest_.data())); }
  int32_t Copy() { return Copy(log_); }
  void SetCopyRequest(double target, double source, std::array<uint8_t, 5> flags) {
    uint8_t* request = copyRequest_.data();
    wire::StoreField(request + wire::request::kDateOffset, target);
    wire::StoreField(request + wire::request::kSourceDateOffset, source);
    std::copy(flags.begin(), flags.end(), request + wire::request::kPartFlagsOffset);
  }

  wire::RequestPackage notice_{};
  wire::RequestPackage copyRequest_{};
};

TEST_F(RecordStoreTest, ReadDaysFillsBlankDaysAndAtMostSeven) {
  WriteRecords(group_.FileName, {});
  ReadDays(group_, log_, 3, kDay + 0.5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Week(i), Day(kDay + i)) << i;

  std::fill_n(group_.Week->Day(1), wire::kDayRecordSize, uint8_t{0xEE});
  ReadDays(group_, log_, 0, kDay);
  EXPECT_EQ(Week(0), Day(kDay));
  EXPECT_EQ(group_.Week->Day(1)[0], 0xEE) << "0 days reads one";

  Prepare({kDay + 1, kDay + 2, kDay + 5, kDay + 9}, false);
  ReadDays(group_, log_, 10, kDay);
  const double expectedStored[] = {0, 1, 1, 0, 0, 1, 0};
  for (int i = 0; i < wire::days_reply::kMaxDays; ++i) {
    const wire::DayRecord day = Week(i);
    EXPECT_EQ(wire::DayDate(day), kDay + i);
    EXPECT_EQ(wire::Title(day), expectedStored[i] ? TitleOf(kDay + i) : "") << i;
  }
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RecordStoreTest, PartialRecordAtTheEndIsNeverRead) {
  Prepare({kDay, kDay + 1}, false);
  // The start of a record of kDay + 2, cut short.
  const wire::DayRecord partial = Day(kDay + 2, "partial");
  AppendBytes(group_.FileName, std::string(partial.begin(), partial.begin() + 1000));

  ReadDays(group_, log_, 3, kDay);
  EXPECT_EQ(Week(2), Day(kDay + 2));
  EXPECT_TRUE(LogLines().empty()) << "no failure, no retry";

  ASSERT_EQ(SetTitle(kDay + 2, "whole"), 0);
  EXPECT_EQ(std::filesystem::file_size(group_.FileName), 3u * kRecord)
      << "the new day replaces the partial record instead of going behind it";
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 2)), "whole");
}

TEST_F(RecordStoreTest, CopyDayTakesOnlyTheChosenParts) {
  wire::DayRecord source = Day(kDay, "source title");
  wire::SetSlotText(source, 4, "source slot");
  wire::SetSlotId(source, 4, 4444);
  wire::SetLine(source, wire::day::LineList::First, 0, "source line");
  wire::DayRecord target = Day(kDay + 1, "target title");
  wire::SetSlotText(target, 6, "target slot");
  wire::SetSlotId(target, 6, 6666);
  wire::SetSlotIdCounter(target, 9);
  wire::Memo(target)[1] = 'm';
  wire::SetLine(target, wire::day::LineList::First, 0, "target line");
  WriteRecords(group_.FileName, {source, target});
  ASSERT_EQ(BuildIndex(group_.FileName, group_.Index), 0);

  SetCopyRequest(kDay + 1, kDay, {0, 0, 1, 0, 0});
  ASSERT_EQ(Copy(), 0);
  const wire::DayRecord copied = ReadRecord(group_.FileName, 1);
  EXPECT_EQ(wire::DayDate(copied), kDay + 1);
  EXPECT_EQ(wire::SlotText(copied, 4), "source slot");
  EXPECT_EQ(wire::SlotText(copied, 6), "");
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) EXPECT_EQ(wire::SlotId(copied, slot), 0);
  EXPECT_EQ(wire::Title(copied), "target title");
  EXPECT_EQ(wire::Memo(copied)[1], 'm');
  EXPECT_EQ(wire::Line(copied, wire::day::LineList::First, 0), "target line");
  EXPECT_EQ(wire::SlotIdCounter(copied), 9);
  EXPECT_EQ(ReadRecord(group_.FileName, 0), source) << "the source day is left unchanged";

  // A missing source day copies blank parts; a missing target day is created.
  SetCopyRequest(kDay + 3, kDay + 2, {1, 1, 1, 1, 1});
  ASSERT_EQ(Copy(), 0);
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay, kDay + 1, kDay + 3}));
  EXPECT_EQ(ReadRecord(group_.FileName, 2), Day(kDay + 3));
  EXPECT_TRUE(LogLines().empty());

  // A target day 0 would put a null record in front of every day: rejected like an edit.
  const std::string before = ReadBytes(group_.FileName);
  group_.MayInsertFirst = true;
  SetCopyRequest(0.3, kDay, {1, 1, 1, 1, 1});
  EXPECT_EQ(Copy(), -1);
  EXPECT_EQ(ReadBytes(group_.FileName), before);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Incorrect Date in received data."});
}

TEST_F(RecordStoreTest, InsertionBeforeTheFirstRecord) {
  Prepare({kDay, kDay + 1, kDay + 2}, true);
  ASSERT_EQ(SetTitle(kDay - 3, "first"), 0);
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay - 3, kDay, kDay + 1, kDay + 2}));
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 0)), "first");
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 3)), TitleOf(kDay + 2))
      << "records moved intact";

  group_.MayInsertFirst = false;
  const std::string before = ReadBytes(group_.FileName);
  EXPECT_EQ(SetTitle(kDay - 5, "refused"), -1);
  SetCopyRequest(kDay - 5, kDay, {1, 0, 0, 0, 0});
  EXPECT_EQ(Copy(), -1);
  EXPECT_EQ(ReadBytes(group_.FileName), before);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "Unable to insert data at the beginning of filled database - Team",
                            "Unable to insert data at the beginning of filled database - Team"}));
  EXPECT_FALSE(group_.WriteRetry);

  // Between records and far beyond the last one insertion is always allowed.
  ASSERT_EQ(SetTitle(kDay + 1000, "far"), 0);
  ASSERT_EQ(SetTitle(kDay - 1, "between"), 0);
  EXPECT_EQ(ReadDates(group_.FileName),
            (std::vector<double>{kDay - 3, kDay - 1, kDay, kDay + 1, kDay + 2, kDay + 1000}));
}

TEST_F(RecordStoreTest, StaleIndexHintsStillFindTheDay) {
  Prepare({kDay, kDay + 2, kDay + 4, kDay + 6}, true);
  const TmyDBIndex stale = group_.Index;
  ASSERT_EQ(SetTitle(kDay + 3, "three"), 0);      // moves kDay + 4 and + 6 up
  ASSERT_EQ(SetTitle(kDay - 1, "minus one"), 0);  // moves everything up
  ASSERT_EQ(group_.Index.size(), stale.size() + 2) << "the index follows the insertions";
  // An index left behind the file (an insertion that failed after moving records) only costs
  // scanning.
  group_.Index = stale;
  group_.LookupDate = 0;

  for (double d : {kDay + 4, kDay + 6, kDay + 2, kDay}) ASSERT_EQ(SetTitle(d, "edited"), 0);
  EXPECT_EQ(ReadDates(group_.FileName),
            (std::vector<double>{kDay - 1, kDay, kDay + 2, kDay + 3, kDay + 4, kDay + 6}))
      << "no day was stored twice";
  ReadDays(group_, log_, 7, kDay);
  EXPECT_EQ(wire::Title(Week(4)), "edited");
  EXPECT_EQ(wire::Title(Week(3)), "three");

  // A hint whose record is later than the day (a rewritten file) restarts the scan at 0.
  group_.Index = {{kDay - 1, 0}, {kDay + 1, static_cast<int32_t>(4 * kRecord)}};
  group_.LookupDate = 0;
  EXPECT_EQ(FindIndexOffset(group_, kDay + 2.9), 4 * kRecord) << "the last entry before the day";
  EXPECT_EQ(group_.LookupDate, kDay + 2);
  ASSERT_EQ(SetTitle(kDay + 2, "found"), 0);
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 2)), "found");
  EXPECT_EQ(ReadDates(group_.FileName).size(), 6u);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RecordStoreTest, HeldDatafileFailsTwiceAndGivesUp) {
  Prepare({kDay}, true);
  const std::string before = ReadBytes(group_.FileName);
  File holder = File::Open(group_.FileName, OpenMode::Read);  // unshared

  EXPECT_EQ(SetTitle(kDay, "x"), -2);
  EXPECT_FALSE(group_.WriteRetry);
  const std::string name = group_.FileName;
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"Warning! Rewrite the file: " + name,
                                      "Error occurred while writing to file: " + name}));

  state::Log writeLog(catalogue_, sessionLock_);
  const uint8_t allParts[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(test::Code(WriteDayParts(group_, writeLog, Day(kDay), kDay, allParts)), -2);
  EXPECT_EQ(writeLog.Pending().find("Warning"), std::string::npos) << "first failure is silent";
  EXPECT_NE(writeLog.Pending().find("Error occurred while writing to file: " + name),
            std::string::npos);

  state::Log copyLog(catalogue_, sessionLock_);
  SetCopyRequest(kDay + 1, kDay, {1, 1, 1, 1, 1});
  EXPECT_EQ(Copy(copyLog), -2);
  EXPECT_FALSE(group_.ReadRetry);
  const std::string copyLines = copyLog.Pending();  // newest first
  EXPECT_NE(copyLines.find("Error occurred while reading the file: " + name + "\r\n"),
            std::string::npos);
  EXPECT_NE(copyLines.find("Warning! Reread the file: " + name), std::string::npos);
  EXPECT_EQ(copyLines.find("writing"), std::string::npos) << "the write was never tried";

  // ReadDays passes a datafile it cannot open to its caller, without retry or log line.
  state::Log readLog(catalogue_, sessionLock_);
  EXPECT_THROW(ReadDays(group_, readLog, 7, kDay), platform::FileError);
  EXPECT_EQ(readLog.Pending(), "");
  EXPECT_FALSE(group_.ReadRetry);

  holder.Close();
  EXPECT_EQ(ReadBytes(group_.FileName), before);
  EXPECT_EQ(SetTitle(kDay, "free again"), 0);
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 0)), "free again");
}

// Lowers the file size limit of the process so that writes past it come up short.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit lowered = previous_;
    lowered.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
  bool ok_ = false;
};

TEST_F(RecordStoreTest, ShortWriteIsAFailureNotASuccess) {
  Prepare({kDay, kDay + 1}, true);
  {
    FileSizeLimit limit(2 * kRecord + 4096);
    ASSERT_TRUE(limit.ok());
    EXPECT_EQ(SetTitle(kDay + 2, "does not fit"), -2);
    // The insertion in front moves the last record past the limit.
    EXPECT_EQ(SetTitle(kDay - 1, "does not fit either"), -2);
  }
  const std::string name = group_.FileName;
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "Warning! Rewrite the file: " + name,
                            "Error occurred while writing to file: " + name,
                            "Warning! Rewrite the file: " + name,
                            "Error occurred while writing to file: " + name,
                        }));
  EXPECT_EQ(std::filesystem::file_size(group_.FileName), 2u * kRecord + 4096);
  // With room again, the partial record left behind is overwritten by whole ones.
  ASSERT_EQ(SetTitle(kDay + 2, "fits"), 0);
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay, kDay + 1, kDay + 2}));
  EXPECT_EQ(std::filesystem::file_size(group_.FileName), 3u * kRecord);
}

}  // namespace
}  // namespace qv::store

namespace qv::store {
namespace {

// What an insertion cut short by an older server left: days 5 to 7 twice, the second copies
// stale. The first copy of a day is the one read and changed, and the days behind the second
// copies are still found.
TEST_F(RecordStoreTest, DuplicatedRecordsNeitherHideDaysNorTakeEdits) {
  std::vector<wire::DayRecord> records;
  for (double d : {3, 4, 5, 6, 7}) records.push_back(Day(kDay + d, TitleOf(kDay + d)));
  for (double d : {5, 6, 7}) records.push_back(Day(kDay + d, "stale"));
  for (double d : {8, 9}) records.push_back(Day(kDay + d, TitleOf(kDay + d)));
  WriteRecords(group_.FileName, records);
  ASSERT_EQ(BuildIndex(group_.FileName, group_.Index), 1);

  ReadDays(group_, log_, 7, kDay + 5);
  for (int i = 0; i < wire::days_reply::kMaxDays; ++i) {
    const double d = kDay + 5 + i;
    EXPECT_EQ(wire::DayDate(Week(i)), d);
    EXPECT_EQ(wire::Title(Week(i)), d <= kDay + 9 ? TitleOf(d) : "") << i;
  }

  ASSERT_EQ(SetTitle(kDay + 7, "edited"), 0);
  ASSERT_EQ(SetTitle(kDay + 5, "edited five"), 0);
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 4)), "edited") << "the first copy";
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 2)), "edited five");
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 7)), "stale");
  EXPECT_EQ(ReadDates(group_.FileName).size(), records.size()) << "nothing inserted";

  ReadDays(group_, log_, 7, kDay + 3);
  EXPECT_EQ(wire::Title(Week(2)), "edited five");
  EXPECT_EQ(wire::Title(Week(4)), "edited");
  EXPECT_EQ(wire::Title(Week(5)), TitleOf(kDay + 8)) << "the week goes on behind the copies";
  EXPECT_EQ(wire::Title(Week(6)), TitleOf(kDay + 9));
}

// Without syncs the records behind an inserted day move in place (the datafile stays the same
// file); the index follows every insertion. Which way an insertion takes: the journal for a tail
// up to its limit, the side file beyond it or on synced files without a journal.
TEST_F(RecordStoreTest, InsertionWithoutSyncsMovesTheTailInPlace) {
  Prepare({kDay, kDay + 2, kDay + 4, kDay + 6}, true);
  group_.Files = &RealFiles(false);
  struct stat before {};
  ASSERT_EQ(::stat(group_.FileName.c_str(), &before), 0);
  ASSERT_EQ(SetTitle(kDay + 3, "three"), 0);
  ASSERT_EQ(SetTitle(kDay + 1, "one"), 0);
  ASSERT_EQ(SetTitle(kDay + 5, "five"), 0);
  struct stat after {};
  ASSERT_EQ(::stat(group_.FileName.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "moved in place, not through a side file";
  EXPECT_EQ(ReadDates(group_.FileName), (std::vector<double>{kDay, kDay + 1, kDay + 2, kDay + 3,
                                                             kDay + 4, kDay + 5, kDay + 6}));
  for (int i = 0; i < 7; i += 2) {
    EXPECT_EQ(ReadRecord(group_.FileName, i), Day(kDay + i, TitleOf(kDay + i))) << i;
  }
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 5)), "five");
  TmyDBIndex rebuilt;
  BuildIndex(group_.FileName, rebuilt);
  ASSERT_EQ(group_.Index.size(), rebuilt.size());
  for (size_t i = 0; i < rebuilt.size(); ++i) {
    // Copies: the packed entries' fields may not be bound to references.
    EXPECT_EQ(double{group_.Index[i].Date}, double{rebuilt[i].Date}) << i;
    EXPECT_EQ(int32_t{group_.Index[i].Offset}, int32_t{rebuilt[i].Offset}) << i;
  }
  EXPECT_EQ(ChooseInsertion(group_, 10 * kRecord), InsertionWay::InPlace);
  group_.Files = nullptr;
  EXPECT_EQ(ChooseInsertion(group_, kRecord), InsertionWay::SideFile);
  group_.Journal = std::make_shared<DayJournal>(RealFiles(), JournalName(group_.FileName));
  EXPECT_EQ(ChooseInsertion(group_, kJournalledTailLimit), InsertionWay::JournalledTail);
  EXPECT_EQ(ChooseInsertion(group_, kJournalledTailLimit + kRecord), InsertionWay::SideFile);
  group_.Journal.reset();
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace
}  // namespace qv::store
