#include "store/journal.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/close_quietly.h"

namespace qv::store {
namespace {

constexpr char kFirstSuffix[] = ".jnl";
constexpr char kSecondSuffix[] = ".jn2";

int64_t NowNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string JournalName(const std::string& datafileName) {
  return datafileName + kFirstSuffix;
}

std::string SecondJournalName(const std::string& datafileName) {
  return datafileName + kSecondSuffix;
}

std::string DayJournal::DatafilePath() const {
  return path_.substr(0, path_.size() - std::strlen(kFirstSuffix));
}

DayJournal::DayJournal(FileLayer& files, std::string path, CheckpointPolicy policy)
    : files_(files), path_(std::move(path)), policy_(policy) {
  parts_[0].path = path_;
  parts_[1].path = SecondJournalName(DatafilePath());
  bool created = false;
  for (Part& part : parts_) {
    created = !files_.Exists(part.path) || created;
    part.file = files_.Open(part.path, platform::OpenMode::CreateReadWrite);
    // Appends go behind the last whole entry: one behind a torn one would never be read again.
    const JournalContents found = ReadJournalEntries(*part.file);
    if (found.validEnd != part.file->Size()) part.file->Truncate(found.validEnd);
    part.size = found.validEnd;
    part.syncedSize = found.validEnd;
    for (const JournalEntry& entry : found.entries) {
      part.last = std::max(part.last.load(), entry.sequence);
      appended_ = std::max(appended_.load(), entry.sequence);
    }
    if (found.validEnd > 0) part.firstEntryNanos = NowNanos();
  }
  durable_ = written_ = appended_.load();
  // A new journal's names must survive a power cut like its entries.
  if (created) files_.SyncDirectoryOf(path_);
  if (parts_[1].size > 0 && parts_[0].size == 0) active_ = 1;
}

DayJournal::~DayJournal() {
  for (Part& part : parts_) {
    if (part.file) platform::CloseQuietly(*part.file);
  }
}

void DayJournal::Append(int64_t offset, double date, wire::ConstDayBytes image, size_t start,
                        size_t length) {
  if (length == 0 || start > image.size() || length > image.size() - start) {
    throw std::out_of_range("journal entry outside the day record");
  }
  JournalEntry entry;
  entry.offset = offset;
  entry.date = date;
  entry.start = static_cast<uint32_t>(start);
  entry.bytes.assign(image.data() + start, image.data() + start + length);
  AppendEntry(std::move(entry));
}

void DayJournal::AppendInsertion(int64_t offset, double date, std::vector<uint8_t> records) {
  const size_t count = records.size() / wire::kDayRecordSize;
  if (records.size() % wire::kDayRecordSize != 0 || count < 2 ||
      count > static_cast<size_t>(kJournalMaxMoveRecords)) {
    throw std::out_of_range("journalled insertion of a wrong size");
  }
  JournalEntry entry;
  entry.offset = offset;
  entry.date = date;
  entry.moves = true;
  entry.bytes = std::move(records);
  AppendEntry(std::move(entry));
}

void DayJournal::AppendEntry(JournalEntry entry) {
  entry.sequence = appended_.load() + 1;
  const std::vector<uint8_t> stored = EncodeJournalEntry(entry);
  std::string why;
  if (!Accepting(why)) throw JournalRefused(why);

  Part& part = parts_[active_.load()];
  const int64_t at = part.size.load();
  try {
    part.file->WriteAt(at, stored.data(), stored.size());
  } catch (const std::exception& e) {
    // Whatever part of it landed lies behind the last entry and is overwritten by the next one.
    throw JournalRefused(std::string("journal write failed: ") + e.what());
  }
  {
    std::lock_guard lock(tailMutex_);
    part.tail.insert(part.tail.end(), stored.begin(), stored.end());
  }
  tailBytes_ += static_cast<int64_t>(stored.size());
  pendingBytes_ += static_cast<int64_t>(entry.bytes.size());
  if (at == 0) part.firstEntryNanos = NowNanos();
  part.size = at + static_cast<int64_t>(stored.size());
  part.last = entry.sequence;
  part.dirty = true;  // before the sequence: a sync that sees the sequence sees the file dirty
  appended_ = entry.sequence;
  pending_.push_back(std::move(entry));
  SwitchIfDue();
}

bool DayJournal::Accepting(std::string& why) const {
  const int64_t pending = PendingBytes();
  if (pending >= policy_.pendingCap) {
    why = "journal holds " + std::to_string(pending) +
          " bytes not yet synced or written in place (at most " +
          std::to_string(policy_.pendingCap) + ")";
    return false;
  }
  return true;
}

void DayJournal::Overlay(int64_t pos, uint8_t* buffer, size_t n) const {
  const int64_t end = pos + static_cast<int64_t>(n);
  for (const JournalEntry& entry : pending_) {
    const int64_t from = std::max(pos, entry.Begin());
    const int64_t to = std::min(end, entry.End());
    if (from >= to) continue;
    std::memcpy(buffer + (from - pos), entry.bytes.data() + (from - entry.Begin()),
                static_cast<size_t>(to - from));
  }
}

int64_t DayJournal::PendingEnd() const {
  int64_t end = 0;
  for (const JournalEntry& entry : pending_) end = std::max(end, entry.End());
  return end;
}

int DayJournal::WritePending(LayerFile& datafile) {
  if (datafileRewriteDue_.load()) RewriteWrittenEntries(datafile);
  int written = 0;
  const uint64_t durable = durable_.load();
  while (!pending_.empty() && pending_.front().sequence <= durable) {
    if (WriteJournalEntryOnto(datafile, pending_.front())) ++written;
    written_ = pending_.front().sequence;
    pendingBytes_ -= static_cast<int64_t>(pending_.front().bytes.size());
    pending_.pop_front();
  }
  return written;
}

// A datafile sync failed: what was written in place before it may be lost although a later sync
// reports success. The entries already written in place are read back from the journal files
// and written again in sequence; the next checkpoint's sync then covers them.
void DayJournal::RewriteWrittenEntries(LayerFile& datafile) {
  const uint64_t written = written_.load();
  std::vector<JournalEntry> entries;
  for (Part& part : parts_) {
    if (!part.file) continue;
    for (JournalEntry& entry : ReadJournalEntries(*part.file).entries) {
      if (entry.sequence <= written) entries.push_back(std::move(entry));
    }
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const JournalEntry& a, const JournalEntry& b) { return a.sequence < b.sequence; });
  for (const JournalEntry& entry : entries) WriteJournalEntryOnto(datafile, entry);
  datafileRewriteDue_ = false;
}

bool DayJournal::Due(const Part& part) const {
  const int64_t size = part.size.load();
  if (size <= 0) return false;
  if (size >= policy_.journalBytes) return true;
  return NowNanos() - part.firstEntryNanos.load() >=
         std::chrono::duration_cast<std::chrono::nanoseconds>(policy_.age).count();
}

bool DayJournal::SwitchDue() const {
  return retiring_.load() < 0 && Due(parts_[active_.load()]);
}

bool DayJournal::SwitchIfDue() {
  if (!SwitchDue()) return false;
  const int active = active_.load();
  retiring_ = active;  // publishes the retired file's last sequence to the sync thread
  active_ = 1 - active;
  return true;
}

bool DayJournal::CheckpointReady() const {
  const int retiring = retiring_.load();
  if (retiring < 0 || datafileRewriteDue_.load()) return false;
  const uint64_t last = parts_[retiring].last.load();
  return durable_.load() >= last && written_.load() >= last;
}

void DayJournal::Empty(Part& part) {
  part.file->Truncate(0);
  part.file->Sync();
  {
    std::lock_guard lock(tailMutex_);
    tailBytes_ -= static_cast<int64_t>(part.tail.size());
    part.tail.clear();
  }
  part.rewriteDue = false;
  part.syncedSize = 0;
  part.size = 0;
  part.last = 0;
  part.dirty = false;
  part.firstEntryNanos = 0;
}

bool DayJournal::CheckpointRetiring() {
  if (!CheckpointReady()) return false;
  const int retiring = retiring_.load();
  const uint64_t last = parts_[retiring].last.load();
  // Every entry of the retired file is written in place before this sync, so it covers them;
  // after a failure, only once the event thread has written them again.
  try {
    files_.SyncFile(DatafilePath());
  } catch (...) {
    datafileRewriteDue_ = true;
    throw;
  }
  std::lock_guard lock(fileMutex_);
  // A Reset in between emptied it already, and the file may be retired again with new entries.
  if (retiring_.load() != retiring || parts_[retiring].last.load() != last) return false;
  Empty(parts_[retiring]);
  retiring_ = -1;
  return true;
}

void DayJournal::Reset() {
  // The datafile holds the pending entries, in a layout they may no longer fit: they go first,
  // whatever the files do. Sequence numbers go on counting.
  pending_.clear();
  pendingBytes_ = 0;
  durable_ = written_ = appended_.load();
  std::lock_guard lock(fileMutex_);
  // The retired file first: should the machine die between the two, what remains is the newer
  // entries, which written again leave the datafile as it is.
  const int retiring = retiring_.load();
  if (retiring >= 0) {
    Empty(parts_[retiring]);
    retiring_ = -1;
  }
  for (Part& part : parts_) {
    if (part.size.load() > 0 || part.dirty.load()) Empty(part);
  }
}

int64_t DayJournal::Size() const {
  return parts_[0].size.load() + parts_[1].size.load();
}

void DayJournal::SyncPart(Part& part) {
  // Every byte in the tail was written before it was put there, so this sync covers them.
  size_t covered = 0;
  {
    std::lock_guard lock(tailMutex_);
    covered = part.tail.size();
  }
  if (!part.rewriteDue) {
    try {
      part.file->Sync();
    } catch (const std::exception&) {
      part.rewriteDue = true;
    }
  }
  if (part.rewriteDue) {
    // A failed sync may have dropped any byte written since the last good one, and a later sync
    // reports success without them: all of them are written again before the sync that counts.
    std::vector<uint8_t> again;
    {
      std::lock_guard lock(tailMutex_);
      again.assign(part.tail.begin(), part.tail.begin() + static_cast<std::ptrdiff_t>(covered));
    }
    if (!again.empty()) part.file->WriteAt(part.syncedSize, again.data(), again.size());
    part.file->Sync();  // throws: still due, and the next round writes everything again
    part.rewriteDue = false;
  }
  std::lock_guard lock(tailMutex_);
  part.tail.erase(part.tail.begin(), part.tail.begin() + static_cast<std::ptrdiff_t>(covered));
  tailBytes_ -= static_cast<int64_t>(covered);
  part.syncedSize += static_cast<int64_t>(covered);
}

void DayJournal::Sync() {
  std::lock_guard lock(fileMutex_);
  const uint64_t upTo = appended_.load();
  // The retired file first: a machine that dies between the two syncs leaves the older entries
  // durable and loses newer ones only.
  const int first = std::max(retiring_.load(), 0);
  for (Part* part : {&parts_[first], &parts_[1 - first]}) {
    if (!part->dirty.exchange(false)) continue;
    try {
      SyncPart(*part);
    } catch (...) {
      part->dirty = true;
      throw;
    }
  }
  uint64_t durable = durable_.load();
  while (durable < upTo && !durable_.compare_exchange_weak(durable, upTo)) {
  }
}

int ReplayJournal(FileLayer& files, const std::string& datafileName, LayerFile& datafile) {
  struct Found {
    std::unique_ptr<LayerFile> file;
    JournalContents contents;
    uint64_t first() const {
      return contents.entries.empty() ? UINT64_MAX : contents.entries.front().sequence;
    }
  };
  std::vector<Found> parts;
  for (const std::string& name : {JournalName(datafileName), SecondJournalName(datafileName)}) {
    if (!files.Exists(name)) continue;
    Found found;
    found.file = files.Open(name, platform::OpenMode::ReadWrite);
    found.contents = ReadJournalEntries(*found.file);
    parts.push_back(std::move(found));
  }
  std::sort(parts.begin(), parts.end(),
            [](const Found& a, const Found& b) { return a.first() < b.first(); });

  std::vector<const JournalEntry*> entries;
  for (const Found& part : parts) {
    for (const JournalEntry& entry : part.contents.entries) entries.push_back(&entry);
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const JournalEntry* a, const JournalEntry* b) { return a->sequence < b->sequence; });
  int applied = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    // A gap: what follows was never acknowledged (an older entry was lost), or was left behind
    // by an earlier round.
    if (i > 0 && entries[i]->sequence != entries[i - 1]->sequence + 1) break;
    if (WriteJournalEntryOnto(datafile, *entries[i])) ++applied;
  }
  datafile.Sync();
  for (Found& part : parts) {  // older entries first
    if (part.file->Size() > 0) {
      part.file->Truncate(0);
      part.file->Sync();
    }
    part.file->Close();
  }
  return applied;
}

}  // namespace qv::store
