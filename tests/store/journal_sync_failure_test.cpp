// Journal syncs failing the way Linux's may (the failed sync drops what it could not write, and a
// later sync reports success without it): failing 1, 2 or 3 syncs in a row from every point of a
// stream of changes, then cutting power, leaves every change the journal reported durable on the
// datafile after the restart's replay. A journal over its cap, one that cannot write its entry,
// and one that could not be opened refuse the entry instead of taking it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fault_files.h"
#include "store/durable_start.h"
#include "store/journal.h"
#include "store_fixture.h"

namespace qv::store {
namespace {

constexpr double kFirstDay = 45000;
constexpr int kDays = 3;
constexpr size_t kByte = 700;  // the byte each change sets
const std::string kDatafile = "/d/team.qdb";

struct Change {
  int day;
  uint8_t value;
};

DayRecord DayOf(double date) {
  DayRecord day{};
  SetDayDate(day, date);
  return day;
}

class SyncFailureRun {
 public:
  explicit SyncFailureRun(test::FaultFiles& files) : files_(files) {
    std::string data;
    for (int d = 0; d < kDays; ++d) {
      const DayRecord day = DayOf(kFirstDay + d);
      data.append(reinterpret_cast<const char*>(day.data()), day.size());
    }
    files_.Put(kDatafile, data);
    // Small files: the journal retires a file every six entries, so checkpoints run all along.
    journal_ = std::make_unique<DayJournal>(files_, JournalName(kDatafile),
                                            CheckpointPolicy{200, std::chrono::hours(1)});
  }

  // One change and one round of the group commit and the event thread's work after it.
  void Edit(int i) {
    const Change change{i % kDays, static_cast<uint8_t>(i + 1)};
    DayRecord day = DayOf(kFirstDay + change.day);
    day[kByte] = change.value;
    journal_->Append(change.day * kDayRecordSize, kFirstDay + change.day, day, kByte, 1);
    changes_.push_back(change);
    try {
      journal_->Sync();
    } catch (const std::exception&) {
    }
    try {
      auto datafile = files_.Open(kDatafile, platform::OpenMode::ReadWrite);
      journal_->WritePending(*datafile);
      datafile->Close();
    } catch (const std::exception&) {
    }
    journal_->SwitchIfDue();
    try {
      journal_->CheckpointRetiring();
    } catch (const std::exception&) {
    }
  }

  // Cuts power, replays, and returns "" or what went wrong.
  std::string CutPowerAndCheck() {
    const uint64_t durable = journal_->DurableSequence();
    journal_.reset();
    files_.FailSyncs(0);
    files_.Restart(true);
    auto datafile = files_.Open(kDatafile, platform::OpenMode::ReadWrite);
    ReplayJournal(files_, kDatafile, *datafile);
    for (int d = 0; d < kDays; ++d) {
      uint8_t value = 0;
      datafile->ReadAt(d * kDayRecordSize + static_cast<int64_t>(kByte), &value, 1);
      // The day holds its last durable change or a later one.
      uint8_t lastDurable = 0;
      bool fine = false;
      for (uint64_t s = 1; s <= changes_.size(); ++s) {
        const Change& change = changes_[s - 1];
        if (change.day != d) continue;
        if (s <= durable) {
          lastDurable = change.value;
          fine = value == change.value;
        } else if (value == change.value) {
          fine = true;
        }
      }
      if (lastDurable == 0) fine = true;
      if (!fine) {
        return "day " + std::to_string(d) + " reads " + std::to_string(value) +
               ", its last durable change set " + std::to_string(lastDurable) + " (durable up to " +
               std::to_string(durable) + ")";
      }
    }
    return "";
  }

 private:
  test::FaultFiles& files_;
  std::unique_ptr<DayJournal> journal_;
  std::vector<Change> changes_;
};

TEST(JournalSyncFailure, EveryChangeReportedDurableSurvivesAPowerCut) {
  constexpr int kChanges = 20;
  int runs = 0;
  for (int failing = 1; failing <= 3; ++failing) {
    for (int from = 0; from < kChanges; ++from) {
      for (int after = from; after <= kChanges; ++after) {  // where the power goes
        test::FaultFiles files;
        SyncFailureRun run(files);
        for (int i = 0; i < after; ++i) {
          if (i == from) files.FailSyncs(failing);
          run.Edit(i);
        }
        const std::string wrong = run.CutPowerAndCheck();
        ASSERT_EQ(wrong, "") << failing << " failed syncs from change " << from
                             << ", power cut after " << after << " changes";
        ++runs;
      }
    }
  }
  EXPECT_EQ(runs, 3 * (kChanges + 1) * kChanges / 2 + 3 * kChanges);
}

class JournalRefusal : public test::StoreFixture {};

TEST_F(JournalRefusal, FullJournalFailedWriteAndUnopenedJournalRefuseTheEntry) {
  const DayRecord day = Day(kFirstDay);
  WriteRecords(group_.FileName, {day});
  {
    // Over its cap the journal refuses until syncs and writes in place bring it down.
    DayJournal journal(RealFiles(), JournalName(group_.FileName),
                       CheckpointPolicy{kCheckpointJournalBytes, kCheckpointAge, 200});
    std::string why;
    int taken = 0;
    for (int i = 0; i < 10 && journal.Accepting(why); ++i, ++taken) {
      journal.Append(0, kFirstDay, day, 100, 50);
    }
    EXPECT_EQ(taken, 2) << "50 pending bytes and the entry's journal bytes each";
    EXPECT_GE(journal.PendingBytes(), 200);
    EXPECT_NE(why.find("at most 200"), std::string::npos) << why;
    const int64_t size = journal.Size();
    EXPECT_THROW(journal.Append(0, kFirstDay, day, 100, 50), JournalRefused);
    EXPECT_EQ(journal.Size(), size) << "a refused entry is not written";
    EXPECT_EQ(journal.Appended(), 2u);

    journal.Sync();
    auto datafile = RealFiles().Open(group_.FileName, platform::OpenMode::ReadWrite);
    EXPECT_EQ(journal.WritePending(*datafile), 2);
    datafile->Close();
    EXPECT_EQ(journal.PendingBytes(), 0);
    EXPECT_TRUE(journal.Accepting(why));
    EXPECT_NO_THROW(journal.Append(0, kFirstDay, day, 100, 50));
  }
  {
    // A disk that is full: the write fails, nothing is taken.
    const std::string full = PathOf("full.qdb");
    std::filesystem::create_symlink("/dev/full", JournalName(full));
    DayJournal journal(RealFiles(), JournalName(full));
    std::string why;
    EXPECT_TRUE(journal.Accepting(why));
    try {
      journal.Append(0, kFirstDay, day, 100, 50);
      ADD_FAILURE() << "a failed write was taken";
    } catch (const JournalRefused& e) {
      EXPECT_NE(std::string(e.what()).find("No space left"), std::string::npos) << e.what();
    }
    EXPECT_EQ(journal.Appended(), 0u);
    EXPECT_EQ(journal.PendingBytes(), 0);
    EXPECT_TRUE(journal.Pending().empty());
  }
  {
    // A journal name that cannot be a file: the group gets a journal that refuses every entry.
    std::filesystem::remove(JournalName(group_.FileName));
    std::filesystem::create_directory(JournalName(group_.FileName));
    group_.Count = 100;
    group_.CountArc = 100;
    PrepareDurableGroupDatafile(group_, log_, true);
    ASSERT_TRUE(group_.Journal);
    std::string why;
    EXPECT_FALSE(group_.Journal->Accepting(why));
    EXPECT_NE(why.find("could not be opened"), std::string::npos) << why;
    EXPECT_THROW(group_.Journal->Append(0, kFirstDay, day, 100, 50), JournalRefused);
    EXPECT_NO_THROW(group_.Journal->Sync());
    group_.Journal.reset();
  }
}

}  // namespace
}  // namespace qv::store
