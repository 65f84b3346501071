// Journal syncs failing the way Linux's may (the failed sync drops what it could not write, and a
// later sync reports success without it): 1, 2 or 3 failed syncs in a row from every point of a
// stream of changes, then a power cut, leave every change reported durable on the datafile after
// replay. A journal over its cap and one that cannot write refuse the entry.
#include <gtest/gtest.h>

#include <filesystem>

#include "fault_files.h"
#include "store/journal.h"
#include "store_fixture.h"

namespace qv::store {
namespace {

constexpr double kFirstDay = 45000;
constexpr int kDays = 3;
constexpr size_t kByte = 700;  // the byte each change sets to its own value
const std::string kDatafile = "/d/team.qdb";

wire::DayRecord DayOf(int day, uint8_t value = 0) {
  wire::DayRecord record{};
  wire::SetDayDate(record, kFirstDay + day);
  record[kByte] = value;
  return record;
}

template <typename Step>
void Quietly(Step step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

// Change i sets day i % kDays to i + 1, followed by a round of the sync thread and the event
// thread. Returns "" or the day that lost a durable change after the power cut.
std::string RunAndCutPower(test::FaultFiles& files, int changes, int failFrom, int failing) {
  std::string data;
  for (int d = 0; d < kDays; ++d)
    data.append(reinterpret_cast<const char*>(DayOf(d).data()), wire::kDayRecordSize);
  files.Put(kDatafile, data);
  // Small files: one retires every six entries, so checkpoints run all along.
  auto journal = std::make_unique<DayJournal>(files, JournalName(kDatafile),
                                              CheckpointPolicy{200, std::chrono::hours(1)});
  for (int i = 0; i < changes; ++i) {
    if (i == failFrom) files.FailSyncs(failing);
    journal->Append((i % kDays) * wire::kDayRecordSize, kFirstDay + i % kDays,
                    DayOf(i % kDays, static_cast<uint8_t>(i + 1)), kByte, 1);
    Quietly([&] { journal->Sync(); });
    Quietly([&] {
      auto datafile = files.Open(kDatafile, platform::OpenMode::ReadWrite);
      journal->WritePending(*datafile);
      datafile->Close();
    });
    journal->SwitchIfDue();
    Quietly([&] { journal->CheckpointRetiring(); });
  }
  const int durable = static_cast<int>(journal->DurableSequence());
  journal.reset();
  files.FailSyncs(0);
  files.Restart(true);
  auto datafile = files.Open(kDatafile, platform::OpenMode::ReadWrite);
  ReplayJournal(files, kDatafile, *datafile);
  for (int d = 0; d < kDays; ++d) {
    uint8_t value = 0;
    datafile->ReadAt(d * wire::kDayRecordSize + static_cast<int64_t>(kByte), &value, 1);
    // The last durable change of the day, or a later one.
    int lastDurable = 0;
    for (int i = d; i < durable; i += kDays) lastDurable = i + 1;
    if (lastDurable != 0 && (value < lastDurable || value % kDays != lastDurable % kDays)) {
      return "day " + std::to_string(d) + " reads " + std::to_string(value) + ", durable " +
             std::to_string(lastDurable);
    }
  }
  return "";
}

TEST(JournalSyncFailure, EveryChangeReportedDurableSurvivesAPowerCut) {
  constexpr int kChanges = 15;
  for (int failing = 1; failing <= 3; ++failing) {
    for (int from = 0; from < kChanges; ++from) {
      for (int cut = from; cut <= kChanges; ++cut) {
        test::FaultFiles files;
        ASSERT_EQ(RunAndCutPower(files, cut, from, failing), "")
            << failing << " failed syncs from change " << from << ", power cut after " << cut;
      }
    }
  }
}

class JournalRefusal : public test::StoreFixture {};

TEST_F(JournalRefusal, AFullJournalAndAFailedWriteRefuseTheEntry) {
  const wire::DayRecord day = Day(kFirstDay);
  WriteRecords(group_.FileName, {day});
  {
    DayJournal journal(RealFiles(), JournalName(group_.FileName),
                       CheckpointPolicy{kCheckpointJournalBytes, kCheckpointAge, 200});
    std::string why;
    journal.Append(0, kFirstDay, day, 100, 50);
    journal.Append(0, kFirstDay, day, 100, 50);  // over 200 with the journal bytes not synced
    EXPECT_FALSE(journal.Accepting(why));
    EXPECT_NE(why.find("at most 200"), std::string::npos) << why;
    EXPECT_THROW(journal.Append(0, kFirstDay, day, 100, 50), JournalRefused);
    EXPECT_EQ(journal.Appended(), 2u) << "a refused entry is not taken";
    journal.Sync();
    auto datafile = RealFiles().Open(group_.FileName, platform::OpenMode::ReadWrite);
    EXPECT_EQ(journal.WritePending(*datafile), 2);
    EXPECT_EQ(journal.PendingBytes(), 0);
    EXPECT_TRUE(journal.Accepting(why));
  }
  {
    // A full disk: the write fails and nothing is taken.
    std::filesystem::create_symlink("/dev/full", JournalName(PathOf("full.qdb")));
    DayJournal journal(RealFiles(), JournalName(PathOf("full.qdb")));
    EXPECT_THROW(journal.Append(0, kFirstDay, day, 100, 50), JournalRefused);
    EXPECT_EQ(journal.Appended(), 0u);
    EXPECT_TRUE(journal.Pending().empty());
  }
}

}  // namespace
}  // namespace qv::store
