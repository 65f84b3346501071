// A journalled change on real files: reads see it at once, the datafile only once its entry is
// durable; flushing brings everything in and empties the journal; a restart writes the entries of
// both journal files onto the datafile in sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "request_builder.h"
#include "store/datafile.h"
#include "store/journal.h"
#include "store/journal_apply.h"
#include "store/journal_entry.h"
#include "store/record_store.h"
#include "store_fixture.h"

namespace qv::store {
namespace {

constexpr double kToday = 45000;

class JournalTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    WriteDays(group_.FileName, {kToday, kToday + 1, kToday + 2});
    group_.Count = 100;
    group_.CountArc = 100;
    PrepareGroupDatafile(group_, log_, kToday);
  }
  void TearDown() override { group_.Journal.reset(); }
  void Open(CheckpointPolicy policy = {}) {
    group_.Journal =
        std::make_shared<DayJournal>(RealFiles(), JournalName(group_.FileName), policy);
  }
  int32_t SetTitle(double date, const std::string& title) {
    wire::RequestPackage notice{};
    return test::Code(
        EditDay(group_, log_, 2, 0, test::Request(date).Text(title).data(), notice.data()));
  }
  std::string TitleRead(double date) {
    ReadDays(group_, log_, 1, date);
    return std::string(wire::Title(wire::DayBytes(group_.Week->Day(0), wire::kDayRecordSize)));
  }
  std::string TitleOnDisk(int64_t index) {
    return std::string(wire::Title(ReadRecord(group_.FileName, index)));
  }
};

TEST_F(JournalTest, ChangeIsReadAtOnceAndReachesTheDatafileOnlyOnceDurable) {
  Open();
  ASSERT_EQ(SetTitle(kToday + 1, "changed"), 0);
  ASSERT_EQ(SetTitle(kToday + 3, "new day"), 0);  // appended behind the last record
  ASSERT_EQ(SetTitle(kToday + 1, "changed twice"), 0);
  EXPECT_EQ(TitleOnDisk(1), TitleOf(kToday + 1)) << "not in place before its entry is durable";
  EXPECT_EQ(ReadDates(group_.FileName).size(), 3u);
  EXPECT_EQ(TitleRead(kToday + 1), "changed twice");
  EXPECT_EQ(TitleRead(kToday + 3), "new day");
  EXPECT_EQ(WriteDurableChanges(group_), 0);

  group_.Journal->Sync();
  EXPECT_EQ(WriteDurableChanges(group_), 3);
  EXPECT_EQ(TitleOnDisk(1), "changed twice");
  EXPECT_EQ(TitleOnDisk(3), "new day");
  EXPECT_TRUE(group_.Journal->Pending().empty());
  EXPECT_GT(group_.Journal->Size(), 0) << "the journal keeps them until a checkpoint";

  // Flushing (before the DB Structure dialog rewrites the file, or at a stop): nothing waits.
  ASSERT_EQ(SetTitle(kToday, "flushed"), 0);
  FlushJournal(group_);
  EXPECT_EQ(TitleOnDisk(0), "flushed");
  EXPECT_EQ(group_.Journal->Size(), 0);
  EXPECT_EQ(ReadBytes(JournalName(group_.FileName)), "");
  EXPECT_EQ(ReadBytes(SecondJournalName(group_.FileName)), "");
}

// Entries in both files (the first retired after one entry), durable but never written in place:
// the restart writes them in sequence, so the later title wins, and empties both files. Nothing
// behind a gap in the sequence is written.
TEST_F(JournalTest, RestartWritesBothFilesInSequence) {
  Open(CheckpointPolicy{1, std::chrono::hours(1)});
  ASSERT_EQ(SetTitle(kToday + 2, "first"), 0);
  ASSERT_EQ(SetTitle(kToday + 2, "second"), 0);
  group_.Journal->Sync();
  const std::string first = ReadBytes(JournalName(group_.FileName));
  const std::string second = ReadBytes(SecondJournalName(group_.FileName));
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(TitleOnDisk(2), TitleOf(kToday + 2));
  group_.Journal.reset();  // the process dies

  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(TitleOnDisk(2), "second");
  EXPECT_TRUE(Logged("Team -> journal: 2 changes written again"));
  EXPECT_EQ(ReadBytes(JournalName(group_.FileName)), "");
  EXPECT_EQ(ReadBytes(SecondJournalName(group_.FileName)), "");

  // A gap in the sequence: what follows it was never acknowledged (an entry before it was lost).
  auto entry = [&](uint64_t sequence, const std::string& title) {
    JournalEntry e;
    e.sequence = sequence;
    e.offset = 2 * static_cast<int64_t>(wire::kDayRecordSize);
    e.date = kToday + 2;
    const wire::DayRecord record = Day(kToday + 2, title);
    e.bytes.assign(record.begin(), record.end());
    const std::vector<uint8_t> stored = EncodeJournalEntry(e);
    return std::string(stored.begin(), stored.end());
  };
  AppendBytes(JournalName(group_.FileName), entry(7, "seven"));
  AppendBytes(SecondJournalName(group_.FileName), entry(9, "nine"));
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_EQ(TitleOnDisk(2), "seven");
}

// An insertion in the journal is one entry: the day and the records it moves. It reads back whole
// or, torn, not at all; it is written onto the layout it was made for, again onto the layout it
// made, and passed over once the records lie elsewhere or are not all there.
TEST_F(JournalTest, InsertionEntryIsWholeOrNothingAndFitsOnlyItsLayout) {
  constexpr int64_t kRecord = wire::kDayRecordSize;
  const std::string path = PathOf("moves.qdb");
  JournalEntry entry;
  entry.sequence = 7;
  entry.offset = kRecord;
  entry.date = kToday + 1;
  entry.moves = true;
  for (const wire::DayRecord& r :
       {Day(kToday + 1, "inserted"), Day(kToday + 2, TitleOf(kToday + 2)),
        Day(kToday + 3, TitleOf(kToday + 3))}) {
    entry.bytes.insert(entry.bytes.end(), r.begin(), r.end());
  }
  const std::vector<uint8_t> stored = EncodeJournalEntry(entry);
  const std::string journalPath = PathOf("moves.jnl");
  {
    auto journal = RealFiles().Open(journalPath, platform::OpenMode::CreateTruncate);
    journal->WriteAt(0, stored.data(), stored.size());
    const JournalContents found = ReadJournalEntries(*journal);
    ASSERT_EQ(found.entries.size(), 1u);
    EXPECT_TRUE(found.entries[0].moves);
    EXPECT_EQ(found.entries[0].offset, kRecord);
    EXPECT_EQ(found.entries[0].bytes, entry.bytes);
    EXPECT_EQ(found.validEnd, static_cast<int64_t>(stored.size()));
    journal->Truncate(static_cast<int64_t>(stored.size()) - 1);
    EXPECT_TRUE(ReadJournalEntries(*journal).entries.empty()) << "a torn insertion is not read";
    journal->Close();
  }
  auto applied = [&](const std::vector<double>& dates) {
    WriteDays(path, dates);
    auto file = RealFiles().Open(path, platform::OpenMode::ReadWrite);
    const bool written = WriteJournalEntryOnto(*file, entry);
    file->Close();
    return written;
  };
  ASSERT_TRUE(applied({kToday, kToday + 2, kToday + 3}));
  EXPECT_EQ(ReadDates(path), (std::vector<double>{kToday, kToday + 1, kToday + 2, kToday + 3}));
  EXPECT_EQ(wire::Title(ReadRecord(path, 1)), "inserted");
  EXPECT_EQ(wire::Title(ReadRecord(path, 3)), TitleOf(kToday + 3));
  const std::string once = ReadBytes(path);
  auto file = RealFiles().Open(path, platform::OpenMode::ReadWrite);
  EXPECT_TRUE(WriteJournalEntryOnto(*file, entry)) << "written again after a death";
  file->Close();
  EXPECT_EQ(ReadBytes(path), once);

  EXPECT_FALSE(applied({kToday - 1, kToday, kToday + 2, kToday + 3})) << "rewritten since";
  EXPECT_EQ(ReadDates(path), (std::vector<double>{kToday - 1, kToday, kToday + 2, kToday + 3}));
  EXPECT_FALSE(applied({kToday, kToday + 2})) << "a record it moves is missing";
  EXPECT_EQ(ReadDates(path).size(), 2u);
}

// A day inserted in front of later ones goes to the journal with the records it moves: reads see
// it at once, the datafile only after the sync, and an edit of a moved day that was still pending
// lands at the day's new place; a restart writes a synced insertion that was never written in
// place.
TEST_F(JournalTest, InsertionIsJournalledAndMovedDaysKeepTheirPendingEdits) {
  constexpr int64_t kRecord = wire::kDayRecordSize;
  Open();
  ASSERT_EQ(SetTitle(kToday + 4, "four"), 0);  // appended behind + 2
  ASSERT_EQ(SetTitle(kToday + 2, "two"), 0);
  wire::RequestPackage notice{};
  const StoreOutcome inserted =
      EditDay(group_, log_, 2, 0, test::Request(kToday + 3).Text("three").data(), notice.data());
  EXPECT_EQ(inserted.status, ChangeStatus::Journalled);
  ASSERT_EQ(SetTitle(kToday + 4, "four again"), 0);
  EXPECT_EQ(ReadDates(group_.FileName).size(), 3u) << "nothing in place before the sync";
  EXPECT_EQ(TitleRead(kToday + 2), "two");
  EXPECT_EQ(TitleRead(kToday + 3), "three");
  EXPECT_EQ(TitleRead(kToday + 4), "four again");
  EXPECT_EQ(FindIndexOffset(group_, kToday + 4), 3 * kRecord) << "the index knows the new day";

  group_.Journal->Sync();
  EXPECT_EQ(WriteDurableChanges(group_), 4);
  EXPECT_EQ(ReadDates(group_.FileName),
            (std::vector<double>{kToday, kToday + 1, kToday + 2, kToday + 3, kToday + 4}));
  EXPECT_EQ(TitleOnDisk(2), "two");
  EXPECT_EQ(TitleOnDisk(3), "three");
  EXPECT_EQ(TitleOnDisk(4), "four again");
  EXPECT_FALSE(std::filesystem::exists(group_.FileName + ".new"));
  FlushJournal(group_);

  ASSERT_EQ(SetTitle(kToday + 7, "seven"), 0);
  ASSERT_EQ(SetTitle(kToday + 6, "six"), 0);
  group_.Journal->Sync();
  group_.Journal.reset();  // a death after the sync: the restart writes them
  PrepareGroupDatafile(group_, log_, kToday);
  EXPECT_TRUE(Logged("Team -> journal: 2 changes written again"));
  const std::vector<double> dates = ReadDates(group_.FileName);
  ASSERT_EQ(dates.size(), 8u) << "+ 5 filled in as a blank day";
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 6)), "six");
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 7)), "seven");
  EXPECT_EQ(wire::Title(ReadRecord(group_.FileName, 4)), "four again");
}

}  // namespace
}  // namespace qv::store
