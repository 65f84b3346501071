#include "store/group_commit.h"

#include <algorithm>

namespace qv::store {
namespace {

// The journals are looked at this often while nothing is synced.
constexpr std::chrono::seconds kIdleCheck{1};
// A failed sync is tried again after this pause.
constexpr std::chrono::milliseconds kRetryPause{100};

bool WaitsForEventThread(const DayJournal& journal) {
  return journal.DurableSequence() > journal.WrittenSequence() || journal.SwitchDue() ||
         journal.DatafileRewriteDue();
}

}  // namespace

GroupCommit::GroupCommit(Done done) : done_(std::move(done)), thread_([this] { Run(); }) {}

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

void GroupCommit::Poke() {
  {
    std::lock_guard lock(mutex_);
    poked_ = true;
  }
  wake_.notify_all();
}

void GroupCommit::Run() {
  uint64_t taken = 0;
  for (;;) {
    std::vector<std::shared_ptr<DayJournal>> journals;
    std::vector<std::shared_ptr<DayJournal>> watched;
    std::vector<std::shared_ptr<DayJournal>> failed;
    CommitReport report;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, kIdleCheck,
                     [&] { return stop_ || poked_ || (kicked_ && noted_ > taken); });
      if (stop_) return;
      if (kicked_ && noted_ > taken) {
        report.synced = noted_;
        journals.swap(dirty_);
      }
      kicked_ = false;
      poked_ = false;
      watched = watched_;
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
        failed.push_back(journal);
      }
    }
    if (!failed.empty()) {
      // Nothing noted is durable until every journal's sync has worked: the tickets stay where
      // they were and the failed journals are synced again after a pause.
      report.synced = 0;
      std::unique_lock lock(mutex_);
      for (const std::shared_ptr<DayJournal>& journal : failed) {
        if (std::find(dirty_.begin(), dirty_.end(), journal) == dirty_.end()) {
          dirty_.push_back(journal);
        }
      }
      kicked_ = true;
      wake_.wait_for(lock, kRetryPause, [&] { return stop_; });
    }
    for (const std::shared_ptr<DayJournal>& journal : watched) {
      try {
        if (journal->CheckpointRetiring()) ++report.checkpoints;
      } catch (const std::exception&) {
        // The retired file keeps its entries; the next round tries again.
      }
      report.journalsWaiting = report.journalsWaiting || WaitsForEventThread(*journal);
    }
    if (report.synced == 0 && report.failed.empty() && report.checkpoints == 0 &&
        !report.journalsWaiting) {
      continue;
    }
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
