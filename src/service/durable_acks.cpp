#include "service/durable_acks.h"

#include <algorithm>

#include "service/send_to_user.h"
#include "store/journal_apply.h"

namespace qv::service {

DurableAcks::DurableAcks(Server& server) : server_(server) {}

DurableAcks::~DurableAcks() {
  commit_.reset();  // joins the sync thread before the rest goes
}

void DurableAcks::HoldUntilSynced(TMyNameUser& user,
                                  const std::shared_ptr<store::DayJournal>& journal) {
  if (!journal) return;
  if (!commit_) {
    std::weak_ptr<DurableAcks> self = weak_from_this();
    platform::EventLoop& loop = server_.loop;
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
    server_.loop.Post([self] {
      if (auto acks = self.lock()) {
        acks->kickPosted_ = false;
        acks->commit_->Kick();
      }
    });
  }
  if (!user.Connected) return;  // nothing will be sent to it; the entry is synced all the same
  user.Held.push_back(HeldPiece{ticket, {}});
  if (std::find(waiting_.begin(), waiting_.end(), &user) == waiting_.end()) {
    waiting_.push_back(&user);
  }
}

void DurableAcks::WriteJournalledChanges() {
  bool checkpointReady = false;
  for (TMyDBUser& group : server_.groups) {
    if (!group.Journal) continue;
    try {
      store::WriteDurableChanges(group);
      group.JournalWriteFailing = false;
    } catch (const std::exception&) {
      // They stay pending (reads see them) and in the journal; the next report tries again.
      if (!group.JournalWriteFailing)
        server_.log.WriteMsg(wire::MsgId::FileWriteError, group.FileName);
      group.JournalWriteFailing = true;
    }
    group.Journal->SwitchIfDue();
    checkpointReady = checkpointReady || group.Journal->CheckpointReady();
  }
  if (checkpointReady && commit_) commit_->Poke();
}

void DurableAcks::Synced(const store::CommitReport& report) {
  // A failing journal is retried every 100 ms until it syncs: logged once per failing spell.
  for (const std::string& path : report.failed) {
    if (failingJournals_.insert(path).second)
      server_.log.WriteMsg(wire::MsgId::FileWriteError, path);
  }
  if (report.failed.empty()) failingJournals_.clear();
  synced_ = std::max(synced_, report.synced);
  for (const int64_t micros : report.syncMicros) {
    Metrics::Add(server_.metrics.journalSyncs);
    server_.metrics.journalSyncLatency.Observe(micros);
  }
  Metrics::Add(server_.metrics.journalCheckpoints, report.checkpoints);
  WriteJournalledChanges();
  std::vector<TMyNameUser*> still;
  for (TMyNameUser* user : waiting_) {
    auto& held = user->Held;
    while (!held.empty() && held.front().Ticket <= synced_) {
      HeldPiece piece = std::move(held.front());
      held.pop_front();
      if (piece.MailDelivery) {
        QueueMailDeliveryNow(server_, *user);
      } else if (!piece.Bytes.empty()) {
        SendToUserNow(server_, *user, piece.Bytes.data(), static_cast<int32_t>(piece.Bytes.size()));
      }
    }
    if (!held.empty()) still.push_back(user);
  }
  waiting_.swap(still);
}

}  // namespace qv::service
