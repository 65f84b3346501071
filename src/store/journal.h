#pragma once
// The write-ahead journal of a datafile, "<datafile>.jnl": before a day's new image is written
// in place it is appended here with its file offset, its day date, a sequence number and a
// checksum. Once the journal is synced the change survives a crash: at the next start every
// whole entry with a good checksum is written onto the datafile again (which also repairs a day
// torn by a death in the middle of its write), then the journal is emptied. A checkpoint (the
// datafile synced) lets the journal be emptied while the server runs.
//
// Appends, Written and Reset come from the event thread; Sync and the Size/sequence getters may
// come from the sync thread at the same time.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "wire/day_record.h"
#include "store/file_layer.h"

namespace qv::store {

// Entry: magic, sequence, offset of the day's record, its date, start and length of the bytes of
// the record that changed, then those bytes and a CRC-32 of all of it. Little-endian. An edit
// journals only the bytes it changed (a title edit a few hundred bytes), a new day the whole
// record.
constexpr uint32_t kJournalMagic = 0x324A5651;  // "QVJ2"
constexpr size_t kJournalHeaderSize = 4 + 8 + 8 + 8 + 4 + 4;
constexpr size_t kJournalMaxEntrySize = kJournalHeaderSize + kDayRecordSize + 4;

std::string JournalName(const std::string& datafileName);

class DayJournal {
 public:
  // Opens the journal (created when missing) for appending at its end. Throws.
  DayJournal(FileLayer& files, std::string path);
  ~DayJournal();
  DayJournal(const DayJournal&) = delete;
  DayJournal& operator=(const DayJournal&) = delete;

  const std::string& Path() const { return path_; }
  // The datafile the journal belongs to.
  std::string DatafilePath() const;

  // Appends the bytes [start, start + length) of the day image that are about to be written to
  // the record at offset of the datafile (a whole record without start and length). Throws.
  void Append(int64_t offset, double date, ConstDayBytes image, size_t start = 0,
              size_t length = kDayRecordSize);
  // The datafile write of the last appended entry is done (a checkpoint may now cover it).
  void Written() { written_.store(appended_.load()); }

  uint64_t Appended() const { return appended_.load(); }
  uint64_t WrittenSequence() const { return written_.load(); }
  int64_t Size() const { return size_.load(); }
  // Steady time of the first entry since the journal was last emptied.
  std::chrono::steady_clock::time_point FirstEntryTime() const;

  // Makes every entry appended so far durable (fdatasync). Any thread. Throws.
  void Sync();
  // Empties the journal: the datafile holds every entry durably. Event thread. Throws.
  void Reset();

 private:
  FileLayer& files_;
  std::string path_;
  std::unique_ptr<LayerFile> file_;
  std::atomic<int64_t> size_{0};
  std::atomic<uint64_t> appended_{0};  // sequence number of the last entry appended
  std::atomic<uint64_t> written_{0};   // ... whose datafile write is done
  mutable std::mutex timeMutex_;
  std::chrono::steady_clock::time_point firstEntry_{};
};

// Start-up, before anything else touches the datafile: writes every whole journal entry with a
// good checksum (in sequence, up to the first bad or torn one) onto the open datafile, syncs it
// and empties the journal. An entry whose offset holds a record of another day (the file was
// rewritten since), or a part of a record the datafile does not hold, is passed over. Returns the
// number of entries written; a missing journal is none. Throws on a read or write failure.
int ReplayJournal(FileLayer& files, const std::string& journalPath, LayerFile& datafile);

}  // namespace qv::store
