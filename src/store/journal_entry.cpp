#include "store/journal_entry.h"

#include <zlib.h>

#include <cstring>

namespace qv::store {
namespace {

constexpr int64_t kRecord = wire::kDayRecordSize;

uint32_t Checksum(const uint8_t* data, size_t n) {
  return static_cast<uint32_t>(::crc32(0L, data, static_cast<uInt>(n)));
}

// An insertion entry: whole records from the start of one, at least the inserted day and one moved.
bool ValidMoveLength(uint32_t start, uint32_t length) {
  return start == 0 && length % kRecord == 0 && length >= 2 * kRecord &&
         length <= kJournalMaxMoveRecords * kRecord;
}

double DateAt(LayerFile& datafile, int64_t pos) {
  uint8_t date[sizeof(double)];
  datafile.ReadAt(pos, date, sizeof date);
  return wire::LoadField<double>(date);
}

bool WriteMoveOnto(LayerFile& datafile, const JournalEntry& entry) {
  const int64_t whole = datafile.Size() / kRecord * kRecord;
  const int64_t records = static_cast<int64_t>(entry.bytes.size()) / kRecord;
  // The file holds at least every record the insertion moves (it may hold the last one moved
  // already).
  if (entry.offset < 0 || entry.offset % kRecord != 0 || entry.End() - kRecord > whole) {
    return false;
  }
  const double found = wire::DayKey(DateAt(datafile, entry.offset));
  const double firstMoved = wire::DayKey(
      wire::DayDate(wire::ConstDayBytes(entry.bytes.data() + kRecord, wire::kDayRecordSize)));
  if (found != wire::DayKey(entry.date) && found != firstMoved) return false;
  for (int64_t k = records - 1; k >= 0; --k) {
    datafile.WriteAt(entry.offset + k * kRecord, entry.bytes.data() + k * kRecord, kRecord);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> EncodeJournalEntry(const JournalEntry& entry) {
  const size_t body = kJournalHeaderSize + entry.bytes.size();
  std::vector<uint8_t> out(body + 4);
  uint8_t* p = out.data();
  wire::StoreField(p, entry.moves ? kJournalMoveMagic : kJournalMagic);
  wire::StoreField(p + 4, entry.sequence);
  wire::StoreField(p + 12, entry.offset);
  wire::StoreField(p + 20, entry.date);
  wire::StoreField(p + 28, entry.start);
  wire::StoreField(p + 32, static_cast<uint32_t>(entry.bytes.size()));
  std::memcpy(p + kJournalHeaderSize, entry.bytes.data(), entry.bytes.size());
  wire::StoreField(p + body, Checksum(p, body));
  return out;
}

JournalContents ReadJournalEntries(LayerFile& journal) {
  JournalContents contents;
  const int64_t size = journal.Size();
  std::vector<uint8_t> raw(kJournalMaxEntrySize);
  int64_t pos = 0;
  while (pos + static_cast<int64_t>(kJournalHeaderSize) <= size) {
    raw.resize(kJournalMaxEntrySize);
    journal.ReadAt(pos, raw.data(), kJournalHeaderSize);
    const uint32_t magic = wire::LoadField<uint32_t>(raw.data());
    const bool moves = magic == kJournalMoveMagic;
    if (magic != kJournalMagic && !moves) break;
    const uint32_t start = wire::LoadField<uint32_t>(raw.data() + 28);
    const uint32_t length = wire::LoadField<uint32_t>(raw.data() + 32);
    if (moves ? !ValidMoveLength(start, length)
              : (length == 0 || start > static_cast<uint32_t>(kRecord) ||
                 length > static_cast<uint32_t>(kRecord) - start)) {
      break;
    }
    const size_t body = kJournalHeaderSize + length;
    if (pos + static_cast<int64_t>(body + 4) > size) break;  // torn tail
    raw.resize(body + 4);
    const uint8_t* p = raw.data();
    journal.ReadAt(pos + static_cast<int64_t>(kJournalHeaderSize), raw.data() + kJournalHeaderSize,
                   length + 4);
    if (wire::LoadField<uint32_t>(raw.data() + body) != Checksum(raw.data(), body)) break;
    JournalEntry entry;
    entry.sequence = wire::LoadField<uint64_t>(p + 4);
    entry.offset = wire::LoadField<int64_t>(p + 12);
    entry.date = wire::LoadField<double>(p + 20);
    entry.start = start;
    entry.moves = moves;
    entry.bytes.assign(raw.data() + kJournalHeaderSize, raw.data() + body);
    contents.entries.push_back(std::move(entry));
    pos += static_cast<int64_t>(body + 4);
  }
  contents.validEnd = pos;
  return contents;
}

bool WriteJournalEntryOnto(LayerFile& datafile, const JournalEntry& entry) {
  if (entry.moves) return WriteMoveOnto(datafile, entry);
  const int64_t whole = datafile.Size() / kRecord * kRecord;
  if (entry.offset < 0 || entry.offset % kRecord != 0 || entry.offset > whole) return false;
  if (entry.offset < whole) {
    if (wire::DayKey(DateAt(datafile, entry.offset)) != wire::DayKey(entry.date)) return false;
  } else if (entry.start != 0 || entry.bytes.size() != static_cast<size_t>(kRecord)) {
    return false;  // part of a record the file does not hold
  }
  datafile.WriteAt(entry.Begin(), entry.bytes.data(), entry.bytes.size());
  return true;
}

}  // namespace qv::store
