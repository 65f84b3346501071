#pragma once
// One entry of a datafile journal: the bytes of a day record that a change wrote, where they go
// in the datafile, the day they belong to and a sequence number. On disk: magic, sequence, offset
// of the day's record, its date, start and length of the changed bytes within the record, the
// bytes, and a CRC-32 of all of it. Little-endian. An edit journals only the bytes it changed (a
// title edit a few hundred bytes), a new day the whole record.
//
// A day inserted in front of later records is one entry of its own kind (magic "QVJ3"): the
// inserted day followed by every record behind it, whole, at their new places from the
// insertion point on (the file grows by one record). One entry, one checksum: after a crash the
// insertion is found whole or not at all.
#include <cstdint>
#include <vector>

#include "store/file_layer.h"
#include "wire/day_record.h"

namespace qv::store {

constexpr uint32_t kJournalMagic = 0x324A5651;  // "QVJ2"
constexpr size_t kJournalHeaderSize = 4 + 8 + 8 + 8 + 4 + 4;
constexpr size_t kJournalMaxEntrySize = kJournalHeaderSize + wire::kDayRecordSize + 4;
constexpr uint32_t kJournalMoveMagic = 0x334A5651;  // "QVJ3"
// The records of one insertion entry: the inserted day and at most this many bytes moved behind
// it. A larger tail is moved through a side file instead.
constexpr int64_t kJournalledTailLimit = 16 * 1024 * 1024;
constexpr int64_t kJournalMaxMoveRecords = kJournalledTailLimit / wire::kDayRecordSize + 1;

struct JournalEntry {
  uint64_t sequence = 0;
  int64_t offset = 0;  // of the day's record in the datafile
  double date = 0;
  uint32_t start = 0;  // of the bytes within the record
  std::vector<uint8_t> bytes;
  // An insertion: bytes holds whole records from offset on, the inserted day (of date) first and
  // then the records that moved up by one.
  bool moves = false;

  int64_t Begin() const { return offset + start; }
  int64_t End() const { return Begin() + static_cast<int64_t>(bytes.size()); }
};

// The entry as it is stored, checksum included.
std::vector<uint8_t> EncodeJournalEntry(const JournalEntry& entry);

struct JournalContents {
  std::vector<JournalEntry> entries;  // whole entries with a good checksum, as stored
  int64_t validEnd = 0;               // where the first bad or torn entry (or the end) is
};
// Reads the entries from the start of the file up to the first bad or torn one. Throws on a read
// failure.
JournalContents ReadJournalEntries(LayerFile& journal);

// Writes the entry's bytes onto the datafile when the record at its offset is of the entry's
// day, or when it is a whole new record right behind the last whole record. An insertion is
// written when the record at its offset is the inserted day or the first record it moves, and
// the file holds at least the records it moves; its records are written from the last to the
// first, so that the insertion point keeps the day it had until all are written. An entry whose
// record holds another day (the file was rewritten since) is passed over: false. Throws on a
// read or write failure.
bool WriteJournalEntryOnto(LayerFile& datafile, const JournalEntry& entry);

}  // namespace qv::store
