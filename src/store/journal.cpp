#include "store/journal.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>
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
  uint32_t start = 0;
  uint32_t length = 0;
};

void PutHeader(uint8_t* out, const EntryHeader& h) {
  StoreField(out, kJournalMagic);
  StoreField(out + 4, h.sequence);
  StoreField(out + 12, h.offset);
  StoreField(out + 20, h.date);
  StoreField(out + 28, h.start);
  StoreField(out + 32, h.length);
}

bool GetHeader(const uint8_t* in, EntryHeader& h) {
  if (LoadField<uint32_t>(in) != kJournalMagic) return false;
  h.sequence = LoadField<uint64_t>(in + 4);
  h.offset = LoadField<int64_t>(in + 12);
  h.date = LoadField<double>(in + 20);
  h.start = LoadField<uint32_t>(in + 28);
  h.length = LoadField<uint32_t>(in + 32);
  return h.length > 0 && h.start <= static_cast<uint32_t>(kRecord) &&
         h.length <= static_cast<uint32_t>(kRecord) - h.start;
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

void DayJournal::Append(int64_t offset, double date, ConstDayBytes image, size_t start,
                        size_t length) {
  if (length == 0 || start > image.size() || length > image.size() - start) {
    throw std::out_of_range("journal entry outside the day record");
  }
  const size_t body = kJournalHeaderSize + length;
  std::vector<uint8_t> entry(body + 4);
  const uint64_t sequence = appended_.load() + 1;
  PutHeader(entry.data(),
            {sequence, offset, date, static_cast<uint32_t>(start), static_cast<uint32_t>(length)});
  std::memcpy(entry.data() + kJournalHeaderSize, image.data() + start, length);
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
  std::vector<uint8_t> entry(kJournalMaxEntrySize);
  int applied = 0;
  uint64_t previous = 0;
  int64_t pos = 0;
  while (pos + static_cast<int64_t>(kJournalHeaderSize) <= size) {
    journal->ReadAt(pos, entry.data(), kJournalHeaderSize);
    EntryHeader h;
    if (!GetHeader(entry.data(), h)) break;
    const size_t body = kJournalHeaderSize + h.length;
    if (pos + static_cast<int64_t>(body + 4) > size) break;  // torn tail
    journal->ReadAt(pos + static_cast<int64_t>(kJournalHeaderSize),
                    entry.data() + kJournalHeaderSize, h.length + 4);
    if (LoadField<uint32_t>(entry.data() + body) != Checksum(entry.data(), body)) break;
    if (previous != 0 && h.sequence != previous + 1) break;  // left behind by an older round
    previous = h.sequence;
    pos += static_cast<int64_t>(body + 4);

    const int64_t whole = datafile.Size() / kRecord * kRecord;
    if (h.offset < 0 || h.offset % kRecord != 0 || h.offset > whole) continue;
    if (h.offset < whole) {
      uint8_t date[sizeof(double)];
      datafile.ReadAt(h.offset, date, sizeof date);
      if (DayKey(LoadField<double>(date)) != DayKey(h.date)) continue;
    } else if (h.start != 0 || h.length != static_cast<uint32_t>(kRecord)) {
      continue;  // part of a record the file does not hold
    }
    datafile.WriteAt(h.offset + h.start, entry.data() + kJournalHeaderSize, h.length);
    ++applied;
  }
  datafile.Sync();
  journal->Truncate(0);
  journal->Sync();
  journal->Close();
  return applied;
}

}  // namespace qv::store
