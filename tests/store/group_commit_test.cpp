// The group commit thread: changes noted before a kick share one sync and one report; a journal
// whose sync fails is named in the report; a checkpoint that is due syncs the datafile and
// reports how far it covers the journal.
#include "store/group_commit.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "fault_files.h"

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
    EXPECT_TRUE(changed_.wait_for(lock, 5s, [&] { return taken_ < reports_.size(); }));
    if (taken_ >= reports_.size()) return {};
    return reports_[taken_++];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CommitReport> reports_;
  size_t taken_ = 0;
};

TEST(GroupCommit, NotedChangesShareASyncAndFailuresAndCheckpointsAreReported) {
  test::FaultFiles files;
  files.Put("/d/team.qdb", std::string(kDayRecordSize, '\0'));
  auto journal = std::make_shared<DayJournal>(files, JournalName("/d/team.qdb"));
  DayRecord day{};
  Reports reports;
  {
    GroupCommit commit(files, reports.Sink(), CheckpointPolicy{1 << 30, 1h});
    for (int i = 0; i < 3; ++i) {
      journal->Append(0, 0, day, 12, 10);
      journal->Written();
      EXPECT_EQ(commit.Note(journal), static_cast<uint64_t>(i + 1));
    }
    const int64_t before = files.Steps();
    commit.Kick();
    const CommitReport first = reports.Next();
    EXPECT_EQ(first.synced, 3u) << "one report for the three changes";
    EXPECT_TRUE(first.failed.empty());
    EXPECT_TRUE(first.checkpoints.empty()) << "none is due";
    EXPECT_EQ(files.Steps(), before + 1) << "one sync";
    EXPECT_EQ(files.Files().at(JournalName("/d/team.qdb"))->durable,
              files.Get(JournalName("/d/team.qdb")))
        << "the entries are durable";

    files.CutAt(2);  // the disk stops after the next append: its sync fails
    journal->Append(0, 0, day, 12, 10);
    EXPECT_EQ(commit.Note(journal), 4u);
    commit.Kick();
    const CommitReport failed = reports.Next();
    EXPECT_EQ(failed.synced, 4u);
    EXPECT_EQ(failed.failed, std::vector<std::string>{JournalName("/d/team.qdb")});
  }
  files.Restart(false);

  // A journal over its size limit: after the sync the datafile is synced too, and the report
  // says which entries it covers.
  auto grown = std::make_shared<DayJournal>(files, JournalName("/d/team.qdb"));
  GroupCommit commit(files, reports.Sink(), CheckpointPolicy{100, 1h});
  grown->Append(0, 0, day);
  grown->Written();
  const int64_t before = files.Steps();
  commit.Note(grown);
  commit.Kick();
  const CommitReport report = reports.Next();
  ASSERT_EQ(report.checkpoints.size(), 1u);
  EXPECT_EQ(report.checkpoints[0].journal, grown);
  EXPECT_EQ(report.checkpoints[0].covered, grown->Appended());
  EXPECT_GE(files.Steps(), before + 1) << "the datafile was synced";
}

}  // namespace
}  // namespace qv::store
