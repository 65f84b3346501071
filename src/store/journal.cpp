#include "store/journal.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace qv::store {
namespace {

constexpr int64_t kRecord = kDayRecordSize;

uint32_t Checksum(const uint8_t* data, size_t n) {
  return static_cast<uint32_t>(::crc32(0L, data, static_cast<uInt>(n)));
}

struct EntryHeader {
  uint64_t sequence = 0;
  int64_t offset = 0;
  double date = 0;
  uint32_t length = 0;
};

void PutHeader(uint8_t* out, const EntryHeader& h) {
  StoreField(out, kJournalMagic);
  StoreField(out + 4, h.sequence);
  StoreField(out + 12, h.offset);
  StoreField(out + 20, h.date);
  StoreField(out + 28, h.length);
}

bool GetHeader(const uint8_t* in, EntryHeader& h) {
  if (LoadField<uint32_t>(in) != kJournalMagic) return false;
  h.sequence = LoadField<uint64_t>(in + 4);
  h.offset = LoadField<int64_t>(in + 12);
  h.date = LoadField<double>(in + 20);
  h.length = LoadField<uint32_t>(in + 28);
  return true;
}

}  // namespace

std::string JournalName(const std::string& datafileName) {
  return datafileName + ".jnl";
}

std::string DayJournal::DatafilePath() const {
  return path_.substr(0, path_.size() - std::string(".jnl").size());
}

DayJournal::DayJournal(FileLayer& files, std::string path) : files_(files), path_(std::move(path)) {
  const bool existed = files_.Exists(path_);
  file_ = files_.Open(path_, platform::OpenMode::CreateReadWrite);
  // A new journal's name must survive a power cut like its entries.
  if (!existed) files_.SyncDirectoryOf(path_);
  size_ = file_->Size();
}

DayJournal::~DayJournal() {
  try {
    if (file_) file_->Close();
  } catch (...) {
  }
}

void DayJournal::Append(int64_t offset, double date, ConstDayBytes image) {
  std::vector<uint8_t> entry(kJournalEntrySize);
  const uint64_t sequence = appended_.load() + 1;
  PutHeader(entry.data(), {sequence, offset, date, static_cast<uint32_t>(kRecord)});
  std::memcpy(entry.data() + kJournalHeaderSize, image.data(), image.size());
  const size_t body = kJournalHeaderSize + image.size();
  StoreField(entry.data() + body, Checksum(entry.data(), body));
  const int64_t at = size_.load();
  file_->WriteAt(at, entry.data(), entry.size());
  if (at == 0) {
    std::lock_guard lock(timeMutex_);
    firstEntry_ = std::chrono::steady_clock::now();
  }
  size_ = at + static_cast<int64_t>(entry.size());
  appended_ = sequence;
}

std::chrono::steady_clock::time_point DayJournal::FirstEntryTime() const {
  std::lock_guard lock(timeMutex_);
  return firstEntry_;
}

void DayJournal::Sync() {
  file_->Sync();
}

void DayJournal::Reset() {
  // Sequence numbers go on counting, so that entries a lost truncation leaves behind the new
  // ones never continue their sequence.
  file_->Truncate(0);
  size_ = 0;
}

int ReplayJournal(FileLayer& files, const std::string& journalPath, LayerFile& datafile) {
  if (!files.Exists(journalPath)) return 0;
  std::unique_ptr<LayerFile> journal = files.Open(journalPath, platform::OpenMode::ReadWrite);
  const int64_t size = journal->Size();
  std::vector<uint8_t> entry(kJournalEntrySize);
  int applied = 0;
  uint64_t previous = 0;
  for (int64_t pos = 0; pos + static_cast<int64_t>(kJournalEntrySize) <= size;
       pos += static_cast<int64_t>(kJournalEntrySize)) {
    journal->ReadAt(pos, entry.data(), entry.size());
    EntryHeader h;
    if (!GetHeader(entry.data(), h) || h.length != kRecord) break;
    const size_t body = kJournalHeaderSize + kRecord;
    if (LoadField<uint32_t>(entry.data() + body) != Checksum(entry.data(), body)) break;
    if (previous != 0 && h.sequence != previous + 1) break;
    previous = h.sequence;
    const int64_t whole = datafile.Size() / kRecord * kRecord;
    if (h.offset < 0 || h.offset % kRecord != 0 || h.offset > whole) continue;
    if (h.offset < whole) {
      uint8_t date[sizeof(double)];
      datafile.ReadAt(h.offset, date, sizeof date);
      if (DayKey(LoadField<double>(date)) != DayKey(h.date)) continue;
    }
    datafile.WriteAt(h.offset, entry.data() + kJournalHeaderSize, kRecord);
    ++applied;
  }
  datafile.Sync();
  journal->Truncate(0);
  journal->Sync();
  journal->Close();
  return applied;
}

}  // namespace qv::store
