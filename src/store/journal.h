#pragma once
// The write-ahead journal of a datafile. A change of a day is appended here (store/journal_entry.h)
// and kept in memory as pending; once the journal is synced the change survives a crash, and only
// then is it written in place in the datafile, so that a power cut in the middle of that write
// leaves a day the next start repairs from the journal, never a torn one. Until it is written in
// place, reads of the datafile see it through the pending entries (store/pending_view.h).
//
// The journal is two files, "<datafile>.jnl" and "<datafile>.jn2": entries go to the active one.
// When it has grown past a size or age, the other becomes the active one and the first retires:
// once every entry in it is durable and written in place, the datafile is synced and the retired
// file emptied. So the journal is emptied under a steady stream of changes too, while the event
// thread never waits for a sync. At the next start the entries of both files are written onto the
// datafile again in sequence (ReplayJournal), which also repairs a day torn by a death in the
// middle of its write.
//
// A journal refuses new entries (Append throws JournalRefused, Accepting says why) while it holds
// more bytes not yet durable or not yet written in place than its cap allows, and when the
// append itself cannot be written (a full disk): the change is then not stored.
//
// A sync that failed may have dropped what it could not write while a later sync reports success
// (Linux reports a writeback error once): after a failure, nothing is trusted until every byte
// written since the last good sync was written again and a sync after that rewrite worked. The
// same holds for the datafile before a checkpoint empties a retired file: after a failed datafile
// sync, the event thread writes the journalled changes in place again first.
//
// Event thread: Append, the pending entries, WritePending, SwitchIfDue, Reset. Sync thread: Sync,
// CheckpointRetiring. The getters from any thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/file_layer.h"
#include "store/journal_entry.h"
#include "wire/day_record.h"

namespace qv::store {

// The active journal file retires once it holds this many bytes, or its oldest entry is this old.
constexpr int64_t kCheckpointJournalBytes = 64 * 1024 * 1024;
constexpr std::chrono::seconds kCheckpointAge{30};

// New entries are refused while the journal holds this many bytes that are not yet durable or
// not yet written in place (syncs or writes failing for a long time).
constexpr int64_t kJournalPendingCap = 64 * 1024 * 1024;

struct CheckpointPolicy {
  int64_t journalBytes = kCheckpointJournalBytes;
  std::chrono::milliseconds age = kCheckpointAge;
  int64_t pendingCap = kJournalPendingCap;
};

// An entry the journal did not take: nothing of it was stored.
class JournalRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "<datafile>.jnl" and "<datafile>.jn2".
std::string JournalName(const std::string& datafileName);
std::string SecondJournalName(const std::string& datafileName);

class DayJournal {
 public:
  // Opens (creates when missing) both files of the journal whose first file is path. Entries
  // found in them are kept, and the sequence goes on from the last one. Throws.
  DayJournal(FileLayer& files, std::string path, CheckpointPolicy policy = {});
  ~DayJournal();
  DayJournal(const DayJournal&) = delete;
  DayJournal& operator=(const DayJournal&) = delete;

  const std::string& Path() const { return path_; }
  std::string DatafilePath() const;

  // Appends the bytes [start, start + length) of the day image meant for the record at offset of
  // the datafile (the whole record without start and length), and keeps them pending. Throws
  // JournalRefused when it does not take the entry (see Accepting, or the write failed).
  void Append(int64_t offset, double date, wire::ConstDayBytes image, size_t start = 0,
              size_t length = wire::kDayRecordSize);
  // Appends the insertion of the day of date at offset: records holds that day and then the
  // records behind it as they are to lie from offset on, whole (store/journal_entry.h). Throws.
  void AppendInsertion(int64_t offset, double date, std::vector<uint8_t> records);

  // False, with the reason in why, while Append refuses entries.
  bool Accepting(std::string& why) const;
  // Bytes of the entries not yet written in place plus the bytes appended but not yet durable.
  int64_t PendingBytes() const { return pendingBytes_.load() + tailBytes_.load(); }

  // The entries not yet written in place, in sequence.
  const std::deque<JournalEntry>& Pending() const { return pending_; }
  // Lays the pending bytes over what was read from the datafile at [pos, pos + n).
  void Overlay(int64_t pos, uint8_t* buffer, size_t n) const;
  // The end of the last pending byte; 0 without pending entries.
  int64_t PendingEnd() const;
  // Writes the pending entries that are durable onto the datafile, in sequence. An entry whose
  // record holds another day now is dropped. After a failed datafile sync it first writes every
  // entry already written in place again (see DatafileRewriteDue). Returns how many were written;
  // throws on a failure, the entries not written stay pending.
  int WritePending(LayerFile& datafile);
  bool HasDurablePending() const {
    return !pending_.empty() && pending_.front().sequence <= durable_.load();
  }
  // A datafile sync failed: the changes written in place must be written again before a
  // checkpoint may trust a datafile sync.
  bool DatafileRewriteDue() const { return datafileRewriteDue_.load(); }

  // Retires the active file when it is due and the other one is empty. True when it did.
  bool SwitchIfDue();
  // The same test, from another thread.
  bool SwitchDue() const;
  // The retired file waits only for the checkpoint: its entries are durable and written.
  bool CheckpointReady() const;
  // Empties both files durably and drops the pending entries: the datafile holds every entry
  // durably (it was replaced by a synced file, or synced). Throws.
  void Reset();

  uint64_t Appended() const { return appended_.load(); }
  uint64_t DurableSequence() const { return durable_.load(); }
  uint64_t WrittenSequence() const { return written_.load(); }
  // Bytes in both files.
  int64_t Size() const;

  // Makes every entry appended so far durable (fdatasync of the files that got entries). A failed
  // sync may have dropped what it could not write while the kernel still reports it written, so
  // the entries since the last good sync are written again from memory and synced once more.
  // Throws when that fails too; the entries are then not durable.
  void Sync();
  // When CheckpointReady: syncs the datafile, then empties the retired file. True when it did;
  // throws on a failure (the retired file keeps its entries and the next call tries again).
  bool CheckpointRetiring();

 private:
  struct Part {
    std::string path;
    std::unique_ptr<LayerFile> file;
    std::atomic<int64_t> size{0};
    std::atomic<uint64_t> last{0};  // sequence of its last entry; 0: none
    std::atomic<bool> dirty{false};
    std::atomic<int64_t> firstEntryNanos{0};  // steady clock
    int64_t syncedSize = 0;                   // the file up to here is durable; Sync and Empty only
    std::vector<uint8_t> tail;  // the bytes behind syncedSize, as appended; under tailMutex_
    // A sync failed: the next sync is trusted only after the tail was written again; under
    // fileMutex_.
    bool rewriteDue = false;
  };
  void AppendEntry(JournalEntry entry);
  void SyncPart(Part& part);
  void RewriteWrittenEntries(LayerFile& datafile);
  bool Due(const Part& part) const;
  void Empty(Part& part);

  FileLayer& files_;
  const std::string path_;
  const CheckpointPolicy policy_;
  Part parts_[2];
  std::atomic<int> active_{0};
  std::atomic<int> retiring_{-1};
  std::atomic<uint64_t> appended_{0};
  std::atomic<uint64_t> durable_{0};
  std::atomic<uint64_t> written_{0};
  std::deque<JournalEntry> pending_;
  std::atomic<int64_t> pendingBytes_{0};  // bytes of the pending entries
  std::atomic<int64_t> tailBytes_{0};     // bytes of both parts' tails
  std::atomic<bool> datafileRewriteDue_{false};
  // Syncs and truncations of the files: the sync thread's and the event thread's Reset.
  std::mutex fileMutex_;
  // The parts' tails: appended by the event thread, taken by the sync thread (never held across
  // a system call).
  std::mutex tailMutex_;
};

// Start-up, before anything else touches the datafile: writes the entries of both journal files
// (each up to its first bad or torn entry), in sequence and up to the first gap in it, onto the
// open datafile, syncs it and empties the journal files (the older first). Entries whose record
// holds another day are passed over. Returns the number written; missing files hold none. Throws
// on a read or write failure.
int ReplayJournal(FileLayer& files, const std::string& datafileName, LayerFile& datafile);

}  // namespace qv::store
