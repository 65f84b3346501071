#pragma once
// Group commit of the datafile journals: one thread syncs every journal that got entries since
// its last sync, so that all changes made in one turn of the event loop, or while a sync was
// running, share one fdatasync. The event thread only notes and kicks; it never waits for a
// sync. After each sync the thread also runs the checkpoints that are due (the datafile synced
// so that its journal may be emptied) and reports both through `done`, on its own thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/journal.h"

namespace qv::store {

// A journal is checkpointed once it holds this many bytes, or its oldest entry is this old.
constexpr int64_t kCheckpointJournalBytes = 64 * 1024 * 1024;
constexpr std::chrono::seconds kCheckpointAge{30};

struct CheckpointPolicy {
  int64_t journalBytes = kCheckpointJournalBytes;
  std::chrono::milliseconds age = kCheckpointAge;
};

struct CommitReport {
  uint64_t synced = 0;              // every entry noted up to this ticket is durable
  std::vector<std::string> failed;  // journals whose sync failed (their entries are not)
  std::vector<int64_t> syncMicros;  // how long each journal sync of this round took
  // Checkpoints done: the datafile holds every entry of the journal up to `covered` durably.
  struct Checkpoint {
    std::shared_ptr<DayJournal> journal;
    uint64_t covered = 0;
  };
  std::vector<Checkpoint> checkpoints;
};

class GroupCommit {
 public:
  using Done = std::function<void(CommitReport report)>;

  GroupCommit(FileLayer& files, Done done, CheckpointPolicy policy = {});
  // Lets a sync in progress finish, then stops the thread.
  ~GroupCommit();
  GroupCommit(const GroupCommit&) = delete;
  GroupCommit& operator=(const GroupCommit&) = delete;

  // Event thread: the journal got entries; returns the ticket that covers them. From now on the
  // journal is watched for checkpoints.
  uint64_t Note(const std::shared_ptr<DayJournal>& journal);
  // Starts a sync of everything noted so far (or adds it to the next one when a sync runs).
  void Kick();

 private:
  void Run();
  void Checkpoints(const std::vector<std::shared_ptr<DayJournal>>& journals, CommitReport& report);

  FileLayer& files_;
  Done done_;
  const CheckpointPolicy policy_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool kicked_ = false;
  uint64_t noted_ = 0;
  std::vector<std::shared_ptr<DayJournal>> dirty_;
  std::vector<std::shared_ptr<DayJournal>> watched_;
  std::thread thread_;
};

}  // namespace qv::store
