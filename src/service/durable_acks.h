#pragma once
// Acknowledgments that leave only once the edit is durable. An edit's journal entry is synced by
// the group commit thread; until then a hold in the user's outbox keeps its acknowledgment
// (3000) back, and everything queued behind it for the same user, so that a forward
// of a later edit never overtakes the acknowledgment of an earlier one. Other users are not held
// up: forwards to them leave at once. All calls on the event thread; the sync reports come back
// through the event loop, and with them the changes whose entries are durable go into the
// datafiles.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "state/server.h"
#include "store/group_commit.h"
#include "store/journal.h"

namespace qv::service {

class DurableAcks : public std::enable_shared_from_this<DurableAcks> {
 public:
  explicit DurableAcks(state::Server& server);
  ~DurableAcks();

  // The ticket of every entry journal holds so far: its sync is started at the end of this turn
  // of the loop, and WhenDurable/HoldUntil wait for it.
  uint64_t Note(const std::shared_ptr<store::DayJournal>& journal);
  // Everything sent to user from now on (the acknowledgment first) waits until ticket is synced.
  void HoldUntil(state::TMyNameUser& user, uint64_t ticket);
  // Runs done once ticket is synced (at once when it already is).
  void WhenDurable(uint64_t ticket, std::function<void()> done);
  // Both at once: everything sent to user from now on waits until every journal entry made so
  // far is synced. Without a journal nothing waits.
  void HoldUntilSynced(state::TMyNameUser& user, const std::shared_ptr<store::DayJournal>& journal);

  // Event thread: what the sync thread reported.
  void Synced(const store::CommitReport& report);

 private:
  // Writes the durable changes of every journal in place and retires the journal files that are
  // due.
  void WriteJournalledChanges();

  state::Server& server_;
  std::unique_ptr<store::GroupCommit> commit_;  // started with the first entry
  std::vector<state::TMyNameUser*> waiting_;
  std::vector<std::pair<uint64_t, std::function<void()>>> whenDurable_;
  std::set<std::string> failingJournals_;
  uint64_t synced_ = 0;
  bool kickPosted_ = false;
};

}  // namespace qv::service
