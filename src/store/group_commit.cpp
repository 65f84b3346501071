#include "store/group_commit.h"

#include <algorithm>

namespace qv::store {
namespace {

// Age checkpoints are looked for this often while nothing is synced.
constexpr std::chrono::seconds kIdleCheck{1};

bool CheckpointDue(const DayJournal& journal, const CheckpointPolicy& policy) {
  const int64_t size = journal.Size();
  if (size <= 0) return false;
  if (size >= policy.journalBytes) return true;
  return std::chrono::steady_clock::now() - journal.FirstEntryTime() >= policy.age;
}

}  // namespace

GroupCommit::GroupCommit(FileLayer& files, Done done, CheckpointPolicy policy)
    : files_(files), done_(std::move(done)), policy_(policy), thread_([this] { Run(); }) {}

GroupCommit::~GroupCommit() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

uint64_t GroupCommit::Note(const std::shared_ptr<DayJournal>& journal) {
  std::lock_guard lock(mutex_);
  if (std::find(dirty_.begin(), dirty_.end(), journal) == dirty_.end()) dirty_.push_back(journal);
  if (std::find(watched_.begin(), watched_.end(), journal) == watched_.end()) {
    watched_.push_back(journal);
  }
  return ++noted_;
}

void GroupCommit::Kick() {
  {
    std::lock_guard lock(mutex_);
    kicked_ = true;
  }
  wake_.notify_all();
}

void GroupCommit::Checkpoints(const std::vector<std::shared_ptr<DayJournal>>& journals,
                              CommitReport& report) {
  for (const std::shared_ptr<DayJournal>& journal : journals) {
    if (!CheckpointDue(*journal, policy_)) continue;
    // Entries whose datafile write is done before the sync are covered by it.
    const uint64_t covered = journal->WrittenSequence();
    try {
      files_.SyncFile(journal->DatafilePath());
      report.checkpoints.push_back({journal, covered});
    } catch (const std::exception&) {
      // The journal keeps its entries; the next round tries again.
    }
  }
}

void GroupCommit::Run() {
  uint64_t taken = 0;
  for (;;) {
    std::vector<std::shared_ptr<DayJournal>> journals;
    std::vector<std::shared_ptr<DayJournal>> watched;
    CommitReport report;
    {
      std::unique_lock lock(mutex_);
      const bool work =
          wake_.wait_for(lock, kIdleCheck, [&] { return stop_ || (kicked_ && noted_ > taken); });
      if (stop_) return;
      kicked_ = false;
      watched = watched_;
      if (work) {
        report.synced = noted_;
        journals.swap(dirty_);
      }
    }
    for (const std::shared_ptr<DayJournal>& journal : journals) {
      try {
        const auto start = std::chrono::steady_clock::now();
        journal->Sync();
        report.syncMicros.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
      } catch (const std::exception&) {
        report.failed.push_back(journal->Path());
      }
    }
    Checkpoints(watched, report);
    if (report.synced == 0 && report.checkpoints.empty()) continue;
    if (report.synced != 0) taken = report.synced;
    if (report.synced == 0) report.synced = taken;
    try {
      done_(std::move(report));
    } catch (...) {
      // The owner reports its own failures; the syncs go on.
    }
  }
}

}  // namespace qv::store
