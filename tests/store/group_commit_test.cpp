// The group commit thread: changes noted before a kick share one sync and one report; a journal
// whose sync fails is named in the report; a retired journal file is emptied once its changes
// are written in place and the datafile is synced, also while changes keep arriving.
#include "store/group_commit.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "fault_files.h"
#include "support/temp_dir.h"

namespace qv::store {
namespace {

using namespace std::chrono_literals;

class Reports {
 public:
  GroupCommit::Done Sink() {
    return [this](CommitReport report) {
      std::lock_guard lock(mutex_);
      reports_.push_back(std::move(report));
      changed_.notify_all();
    };
  }
  // The next report, within a few seconds.
  CommitReport Next() {
    std::unique_lock lock(mutex_);
    EXPECT_TRUE(changed_.wait_for(lock, 5s, [&] { return !reports_.empty(); }));
    return TakeLocked();
  }
  // The next report if one came.
  std::optional<CommitReport> Poll() {
    std::lock_guard lock(mutex_);
    if (reports_.empty()) return std::nullopt;
    return TakeLocked();
  }

 private:
  CommitReport TakeLocked() {
    if (reports_.empty()) return {};
    CommitReport report = std::move(reports_.front());
    reports_.pop_front();
    return report;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CommitReport> reports_;
};

wire::DayRecord DayOf(double date) {
  wire::DayRecord day{};
  wire::SetDayDate(day, date);
  return day;
}

TEST(GroupCommit, NotedChangesShareASyncAndFailuresAreReported) {
  test::FaultFiles files;
  const wire::DayRecord day = DayOf(45000);
  files.Put("/d/team.qdb", std::string(reinterpret_cast<const char*>(day.data()), day.size()));
  auto journal = std::make_shared<DayJournal>(files, JournalName("/d/team.qdb"));
  Reports reports;
  GroupCommit commit(reports.Sink());
  for (int i = 0; i < 3; ++i) {
    journal->Append(0, 45000, day, 12, 10);
    EXPECT_EQ(commit.Note(journal), static_cast<uint64_t>(i + 1));
  }
  EXPECT_EQ(journal->DurableSequence(), 0u);
  const int64_t before = files.Steps();
  commit.Kick();
  const CommitReport first = reports.Next();
  EXPECT_EQ(first.synced, 3u) << "one report for the three changes";
  EXPECT_TRUE(first.failed.empty());
  EXPECT_TRUE(first.journalsWaiting) << "the changes wait to be written in place";
  EXPECT_EQ(files.Steps(), before + 1) << "one sync";
  EXPECT_EQ(journal->DurableSequence(), 3u);
  EXPECT_EQ(files.Files().at(JournalName("/d/team.qdb"))->durable,
            files.Get(JournalName("/d/team.qdb")))
      << "the entries are durable";
  EXPECT_EQ(journal->Pending().size(), 3u) << "written in place by the event thread only";

  files.CutAt(2);  // the disk stops after the next append: its sync fails
  journal->Append(0, 45000, day, 12, 10);
  EXPECT_EQ(commit.Note(journal), 4u);
  commit.Kick();
  const CommitReport failed = reports.Next();
  EXPECT_EQ(failed.synced, 3u) << "no acknowledgment of a change that is not durable";
  EXPECT_EQ(failed.failed, std::vector<std::string>{JournalName("/d/team.qdb")});
  EXPECT_EQ(journal->DurableSequence(), 3u) << "the failed entry is not durable";
}

// A failed sync may have dropped what it could not write (a later sync then reports success
// without it): the journal writes its unsynced entries again and syncs once more; while that
// fails too, the tickets stay and the sync is tried again until it works.
TEST(GroupCommit, FailedSyncWritesTheEntriesAgainAndHoldsTheTicketsUntilOneWorks) {
  test::FaultFiles files;
  const wire::DayRecord day = DayOf(45000);
  files.Put("/d/team.qdb", std::string(reinterpret_cast<const char*>(day.data()), day.size()));
  const std::string name = JournalName("/d/team.qdb");
  auto journal = std::make_shared<DayJournal>(files, name);
  Reports reports;
  GroupCommit commit(reports.Sink());
  auto append = [&](uint8_t value) {
    wire::DayRecord changed = day;
    changed[700] = value;
    journal->Append(0, 45000, changed, 700, 1);
    return commit.Note(journal);
  };
  append(1);
  commit.Kick();
  EXPECT_EQ(reports.Next().synced, 1u);

  files.FailSyncs(1);
  append(2);
  append(3);
  commit.Kick();
  const CommitReport rewritten = reports.Next();
  EXPECT_TRUE(rewritten.failed.empty());
  EXPECT_EQ(rewritten.synced, 3u);
  EXPECT_EQ(files.Files().at(name)->durable, files.Get(name))
      << "the entries the failed sync dropped were written again and are durable";

  // Three failures: the first round's sync and its sync after writing again, then the next
  // round's (which writes everything again before its sync, never trusting a bare one); the
  // round after that works.
  files.FailSyncs(3);
  const uint64_t ticket = append(4);
  commit.Kick();
  const CommitReport held = reports.Next();
  EXPECT_EQ(held.failed, std::vector<std::string>{name});
  EXPECT_EQ(held.synced, 3u) << "the ticket of the change that is not durable stays";
  EXPECT_EQ(reports.Next().failed, std::vector<std::string>{name});
  const CommitReport retried = reports.Next();
  EXPECT_TRUE(retried.failed.empty());
  EXPECT_EQ(retried.synced, ticket);
  EXPECT_EQ(journal->DurableSequence(), 4u);
  EXPECT_EQ(files.Files().at(name)->durable, files.Get(name));
  EXPECT_EQ(files.Get(name).size(), 4 * (kJournalHeaderSize + 1 + 4)) << "four entries";
}

// A journal file over its size limit retires at the append; once its entry is durable and
// written in place, the datafile is synced and the file emptied, while the next entry goes to
// the other file.
TEST(GroupCommit, RetiredFileIsEmptiedAfterItsChangesAreInPlace) {
  test::FaultFiles files;
  const wire::DayRecord day = DayOf(45000);
  files.Put("/d/team.qdb", std::string(reinterpret_cast<const char*>(day.data()), day.size()));
  auto journal =
      std::make_shared<DayJournal>(files, JournalName("/d/team.qdb"), CheckpointPolicy{30, 1h});
  Reports reports;
  GroupCommit commit(reports.Sink());
  wire::DayRecord changed = day;
  changed[500] = 7;
  journal->Append(0, 45000, changed, 500, 1);
  commit.Note(journal);
  commit.Kick();
  const CommitReport synced = reports.Next();
  EXPECT_EQ(synced.checkpoints, 0) << "not before the change is written in place";
  EXPECT_FALSE(journal->CheckpointReady());

  journal->Append(0, 45000, changed, 500, 1);  // to the other file
  EXPECT_FALSE(files.Get(SecondJournalName("/d/team.qdb")).empty());
  auto datafile = files.Open("/d/team.qdb", platform::OpenMode::ReadWrite);
  EXPECT_EQ(journal->WritePending(*datafile), 1);
  datafile->Close();
  EXPECT_EQ(files.Get("/d/team.qdb")[500], 7);
  ASSERT_TRUE(journal->CheckpointReady());
  commit.Poke();
  const CommitReport checkpoint = reports.Next();
  EXPECT_EQ(checkpoint.checkpoints, 1);
  EXPECT_EQ(files.Get(JournalName("/d/team.qdb")), "") << "the retired file is emptied";
  EXPECT_EQ(files.Files().at("/d/team.qdb")->durable[500], 7) << "after the datafile's sync";
  EXPECT_FALSE(files.Get(SecondJournalName("/d/team.qdb")).empty()) << "the newer entry stays";
}

// Changes arrive all the time (about 20,000 a second, more than the server handles), never a
// pause for a checkpoint to find the journal quiet: the journal files are still emptied again and
// again and stay far below what was journalled, and every change reaches the datafile.
TEST(GroupCommit, JournalStaysSmallUnderAnUninterruptedStreamOfChanges) {
  qv::test::TempDir dir;
  const std::string datafile = dir.File("team.qdb");
  const wire::DayRecord day = DayOf(45000);
  dir.Write("team.qdb", std::string(reinterpret_cast<const char*>(day.data()), day.size()));
  constexpr int64_t kLimit = 64 * 1024;
  auto journal = std::make_shared<DayJournal>(RealFiles(), JournalName(datafile),
                                              CheckpointPolicy{kLimit, 1h});
  Reports reports;
  GroupCommit commit(reports.Sink());
  auto file = RealFiles().Open(datafile, platform::OpenMode::ReadWrite);

  constexpr int kChanges = 40000;
  constexpr size_t kSpan = 600;
  wire::DayRecord image = day;
  int checkpoints = 0;
  int64_t largest = 0;
  auto handle = [&](const CommitReport& report) {
    checkpoints += report.checkpoints;
    journal->WritePending(*file);
    journal->SwitchIfDue();
    if (journal->CheckpointReady()) commit.Poke();
  };
  for (int i = 0; i < kChanges; ++i) {
    std::memset(image.data() + 1000, i & 0xFF, kSpan);
    journal->Append(0, 45000, image, 1000, kSpan);
    commit.Note(journal);
    if (i % 8 == 7) commit.Kick();
    if (i % 20 == 19) std::this_thread::sleep_for(1ms);
    while (auto report = reports.Poll()) handle(*report);
    largest = std::max(largest, journal->Size());
  }
  commit.Kick();
  for (int round = 0; round < 200 && journal->WrittenSequence() < journal->Appended(); ++round) {
    handle(reports.Next());
  }
  const int64_t total = kChanges * static_cast<int64_t>(kJournalHeaderSize + kSpan + 4);
  // How far the files grow between a retirement and its checkpoint depends on how long the
  // datafile's sync takes on this disk; without checkpoints they would hold everything.
  EXPECT_GT(checkpoints, 3) << "of " << total << " bytes journalled";
  EXPECT_LT(largest, total / 4) << "of " << total << " bytes journalled";
  RecordProperty("checkpoints", checkpoints);
  RecordProperty("largest_journal_bytes", std::to_string(largest));
  EXPECT_EQ(journal->WrittenSequence(), static_cast<uint64_t>(kChanges));
  file->Close();
  EXPECT_EQ(dir.Read("team.qdb").substr(1000, kSpan),
            std::string(kSpan, static_cast<char>((kChanges - 1) & 0xFF)));
}

}  // namespace
}  // namespace qv::store
