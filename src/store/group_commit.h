#pragma once
// Group commit of the datafile journals: one thread syncs every journal that got entries since
// its last sync, so that all changes made in one turn of the event loop, or while a sync was
// running, share one fdatasync. The event thread only notes and kicks; it never waits for a
// sync. After each sync the thread also checkpoints the retired journal files that are ready
// (the datafile synced, the file emptied) and reports through `done`, on its own thread. About
// once a second it looks at the journals even when nothing was noted.
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

struct CommitReport {
  uint64_t synced = 0;  // every entry noted up to this ticket is durable
  // Journals whose sync failed: their entries are not durable, and no ticket moves on until a
  // later round has synced them.
  std::vector<std::string> failed;
  std::vector<int64_t> syncMicros;  // how long each journal sync of this round took
  int checkpoints = 0;              // retired journal files emptied after a datafile sync
  // A journal has durable changes to write in place, or its active file is due to retire: the
  // event thread has work (also reported when nothing was synced).
  bool journalsWaiting = false;
};

class GroupCommit {
 public:
  using Done = std::function<void(CommitReport report)>;

  explicit GroupCommit(Done done);
  // Lets a sync in progress finish, then stops the thread.
  ~GroupCommit();
  GroupCommit(const GroupCommit&) = delete;
  GroupCommit& operator=(const GroupCommit&) = delete;

  // Event thread: the journal got entries; returns the ticket that covers them. From now on the
  // journal is watched for checkpoints.
  uint64_t Note(const std::shared_ptr<DayJournal>& journal);
  // Starts a sync of everything noted so far (or adds it to the next one when a sync runs).
  void Kick();
  // A retired journal file may be ready for its checkpoint: looks at once rather than within
  // the second.
  void Poke();

 private:
  void Run();

  Done done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool kicked_ = false;
  bool poked_ = false;
  uint64_t noted_ = 0;
  std::vector<std::shared_ptr<DayJournal>> dirty_;
  std::vector<std::shared_ptr<DayJournal>> watched_;
  std::thread thread_;
};

}  // namespace qv::store
