#include "store/journal_entry.h"

#include <zlib.h>

#include <cstring>

namespace qv::store {
namespace {

constexpr int64_t kRecord = wire::kDayRecordSize;

uint32_t Checksum(const uint8_t* data, size_t n) {
  return static_cast<uint32_t>(::crc32(0L, data, static_cast<uInt>(n)));
}

}  // namespace

std::vector<uint8_t> EncodeJournalEntry(const JournalEntry& entry) {
  const size_t body = kJournalHeaderSize + entry.bytes.size();
  std::vector<uint8_t> out(body + 4);
  uint8_t* p = out.data();
  wire::StoreField(p, kJournalMagic);
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
    journal.ReadAt(pos, raw.data(), kJournalHeaderSize);
    const uint8_t* p = raw.data();
    if (wire::LoadField<uint32_t>(p) != kJournalMagic) break;
    const uint32_t start = wire::LoadField<uint32_t>(p + 28);
    const uint32_t length = wire::LoadField<uint32_t>(p + 32);
    if (length == 0 || start > static_cast<uint32_t>(kRecord) ||
        length > static_cast<uint32_t>(kRecord) - start) {
      break;
    }
    const size_t body = kJournalHeaderSize + length;
    if (pos + static_cast<int64_t>(body + 4) > size) break;  // torn tail
    journal.ReadAt(pos + static_cast<int64_t>(kJournalHeaderSize), raw.data() + kJournalHeaderSize,
                   length + 4);
    if (wire::LoadField<uint32_t>(raw.data() + body) != Checksum(raw.data(), body)) break;
    JournalEntry entry;
    entry.sequence = wire::LoadField<uint64_t>(p + 4);
    entry.offset = wire::LoadField<int64_t>(p + 12);
    entry.date = wire::LoadField<double>(p + 20);
    entry.start = start;
    entry.bytes.assign(raw.data() + kJournalHeaderSize, raw.data() + body);
    contents.entries.push_back(std::move(entry));
    pos += static_cast<int64_t>(body + 4);
  }
  contents.validEnd = pos;
  return contents;
}

bool WriteJournalEntryOnto(LayerFile& datafile, const JournalEntry& entry) {
  const int64_t whole = datafile.Size() / kRecord * kRecord;
  if (entry.offset < 0 || entry.offset % kRecord != 0 || entry.offset > whole) return false;
  if (entry.offset < whole) {
    uint8_t date[sizeof(double)];
    datafile.ReadAt(entry.offset, date, sizeof date);
    if (wire::DayKey(wire::LoadField<double>(date)) != wire::DayKey(entry.date)) return false;
  } else if (entry.start != 0 || entry.bytes.size() != static_cast<size_t>(kRecord)) {
    return false;  // part of a record the file does not hold
  }
  datafile.WriteAt(entry.Begin(), entry.bytes.data(), entry.bytes.size());
  return true;
}

}  // namespace qv::store
