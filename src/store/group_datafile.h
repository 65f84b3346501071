#pragma once
// The datafile side of a group: the fields of the group record that the datafile, archive,
// index and record store operations work on. TMyDBUser (state/group_table.h) derives from it.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/day_record.h"
#include "wire/packages.h"

namespace qv::store {

class FileLayer;
class DayJournal;

#pragma pack(push, 1)
struct TmyDBIndexEntry {
  double Date;
  int32_t Offset;
};
#pragma pack(pop)
static_assert(sizeof(TmyDBIndexEntry) == 12);

using TmyDBIndex = std::vector<TmyDBIndexEntry>;

// WeekReplyHeader immediately followed by WeekCache, so that a days reply of
// 24 + n * 55766 bytes can be sent from the header in one piece.
struct WeekReply {
  std::array<uint8_t,
             wire::days_reply::kHeaderSize + wire::days_reply::kMaxDays * wire::kDayRecordSize>
      Bytes{};
  uint8_t* Header() { return Bytes.data(); }
  uint8_t* Day(int i) {
    return Bytes.data() + wire::days_reply::kHeaderSize + i * wire::kDayRecordSize;
  }
};

// Touched on the event thread only (start-up, requests, the structure dialog), except
// WriteGeneration and the start-up fields Alias, FileName and Count, which the feed's threads
// read too.
struct GroupDatafile {
  std::string Alias;
  std::string FileName;  // empty: the group has no datafile
  int32_t Count = 0;
  int32_t CountArc = 0;
  bool Busy = false;
  bool MayInsertFirst = false;
  double FirstDate = 0;
  bool NoDatafile = true;
  // Set when the group's changes cannot be stored at all (its datafile could not be created, or
  // its journal could not be opened): every change is refused with this reason, which was
  // logged once.
  std::string EditsRefusedWhy;

  // Large buffers live on the heap so that a group table of many groups stays cheap to build.
  std::unique_ptr<wire::DayRecord> BlankRecord = std::make_unique<wire::DayRecord>();
  std::unique_ptr<wire::DayRecord> WorkRecord =
      std::make_unique<wire::DayRecord>();                          // start-up's scratch
  std::unique_ptr<WeekReply> Week = std::make_unique<WeekReply>();  // WeekReplyHeader + WeekCache
  int32_t LookupOffset = 0;
  double LookupDate = 0;
  TmyDBIndex Index;
  bool ReadRetry = false;
  bool WriteRetry = false;

  // The files the datafile operations go through; none: the platform's files, with syncs.
  FileLayer* Files = nullptr;
  // The write-ahead journal of the datafile while the server runs with syncs; none without.
  std::shared_ptr<DayJournal> Journal;
  // Writing the journal's durable changes in place failed and was logged; cleared when it works.
  bool JournalWriteFailing = false;
  // Raised by one before and once more after every change of the datafile (odd while one is
  // under way). Readers on other threads (the HTTP feed) read without a lock and take what they
  // read only when the value was even and unchanged around it: the event thread never waits for
  // them.
  std::unique_ptr<std::atomic<uint64_t>> WriteGeneration =
      std::make_unique<std::atomic<uint64_t>>(0);
};

}  // namespace qv::store
