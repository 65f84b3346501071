// A journalled change on real files: reads see it at once, the datafile only once its entry is
// durable; flushing brings everything in and empties the journal; a restart writes the entries of
// both journal files onto the datafile in sequence.
#include <gtest/gtest.h>

#include <chrono>

#include "request_builder.h"
#include "store/datafile.h"
#include "store/journal.h"
#include "store/journal_apply.h"
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
    return EditDay(group_, log_, 2, 0, test::Request(date).Text(title).data());
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

}  // namespace
}  // namespace qv::store
