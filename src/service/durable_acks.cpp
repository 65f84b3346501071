#include "service/durable_acks.h"

#include <algorithm>

#include "service/outbox.h"
#include "store/journal_apply.h"

namespace qv::service {

DurableAcks::DurableAcks(state::Server& server) : server_(server) {}

DurableAcks::~DurableAcks() {
  commit_.reset();  // joins the sync thread before the rest goes
}

uint64_t DurableAcks::Note(const std::shared_ptr<store::DayJournal>& journal) {
  if (!commit_) {
    std::weak_ptr<DurableAcks> self = weak_from_this();
    platform::EventLoop& loop = server_.runtime.loop;
    commit_ = std::make_unique<store::GroupCommit>([self, &loop](store::CommitReport report) {
      loop.Post([self, report = std::move(report)] {
        if (auto acks = self.lock()) acks->Synced(report);
      });
    });
  }
  const uint64_t ticket = commit_->Note(journal);
  if (!kickPosted_) {
    // At the end of this turn of the loop: every edit of the turn shares the sync.
    kickPosted_ = true;
    std::weak_ptr<DurableAcks> self = weak_from_this();
    server_.runtime.loop.Post([self] {
      if (auto acks = self.lock()) {
        acks->kickPosted_ = false;
        acks->commit_->Kick();
      }
    });
  }
  return ticket;
}

void DurableAcks::HoldUntil(state::TMyNameUser& user, uint64_t ticket) {
  if (ticket <= synced_) return;
  if (!user.Connected) return;  // nothing will be sent to it; the entry is synced all the same
  OutboxOf(server_, user).HoldUntil(ticket);
  if (std::find(waiting_.begin(), waiting_.end(), &user) == waiting_.end()) {
    waiting_.push_back(&user);
  }
}

void DurableAcks::WhenDurable(uint64_t ticket, std::function<void()> done) {
  if (ticket <= synced_) {
    done();
    return;
  }
  whenDurable_.emplace_back(ticket, std::move(done));
}

void DurableAcks::HoldUntilSynced(state::TMyNameUser& user,
                                  const std::shared_ptr<store::DayJournal>& journal) {
  if (!journal) return;
  HoldUntil(user, Note(journal));
}

void DurableAcks::WriteJournalledChanges() {
  bool checkpointReady = false;
  int64_t pendingBytes = 0;
  for (state::TMyDBUser& group : server_.roster.groups) {
    if (!group.Journal) continue;
    try {
      store::WriteDurableChanges(group);
      group.JournalWriteFailing = false;
    } catch (const std::exception&) {
      // They stay pending (reads see them) and in the journal; the next report tries again.
      if (!group.JournalWriteFailing)
        server_.runtime.log.WriteMsg(wire::MsgId::FileWriteError, group.FileName);
      group.JournalWriteFailing = true;
    }
    group.Journal->SwitchIfDue();
    checkpointReady = checkpointReady || group.Journal->CheckpointReady();
    pendingBytes += group.Journal->PendingBytes();
  }
  server_.runtime.metrics.journalPendingBytes.store(pendingBytes, std::memory_order_relaxed);
  if (checkpointReady && commit_) commit_->Poke();
}

void DurableAcks::Synced(const store::CommitReport& report) {
  // A failing journal is retried every 100 ms until it syncs: logged once per failing spell.
  for (const std::string& path : report.failed) {
    if (failingJournals_.insert(path).second)
      server_.runtime.log.WriteMsg(wire::MsgId::FileWriteError, path);
  }
  if (report.failed.empty()) failingJournals_.clear();
  synced_ = std::max(synced_, report.synced);
  for (const int64_t micros : report.syncMicros) {
    state::Metrics::Add(server_.runtime.metrics.journalSyncs);
    server_.runtime.metrics.journalSyncLatency.Observe(micros);
  }
  state::Metrics::Add(server_.runtime.metrics.journalCheckpoints, report.checkpoints);
  WriteJournalledChanges();
  std::vector<state::TMyNameUser*> still;
  for (state::TMyNameUser* user : waiting_) {
    Outbox& outbox = OutboxOf(server_, *user);
    outbox.Release(synced_);
    if (outbox.Holding()) still.push_back(user);
  }
  waiting_.swap(still);
  // Callers of WhenDurable last, in the order they asked: their acknowledgments follow what the
  // native members were released above.
  std::vector<std::function<void()>> due;
  std::erase_if(whenDurable_, [&](auto& entry) {
    if (entry.first > synced_) return false;
    due.push_back(std::move(entry.second));
    return true;
  });
  for (auto& done : due) done();
}

}  // namespace qv::service
