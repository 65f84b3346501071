#include "store/day_insertion.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "store/journal.h"
#include "store/side_file.h"

namespace qv::store {
namespace {

constexpr int64_t kRecord = wire::kDayRecordSize;

// The day and the records behind it, read through the pending view in one piece, as one entry.
void JournalTail(DayJournal& journal, LayerFile& file, int64_t pos, int64_t whole,
                 wire::ConstDayBytes day) {
  std::vector<uint8_t> records(static_cast<size_t>(whole - pos + kRecord));
  std::memcpy(records.data(), day.data(), day.size());
  file.ReadAt(pos, records.data() + kRecord, static_cast<size_t>(whole - pos));
  journal.AppendInsertion(pos, wire::DayDate(day), std::move(records));
}

// From the last record backwards, each record is written one place up before the one in front of
// it is: a death on the way leaves the record last written twice (the copy in front is the one
// reads take and edits change) and never loses one.
void MoveTailInPlace(LayerFile& file, int64_t pos, int64_t whole, wire::ConstDayBytes day) {
  auto record = std::make_unique<wire::DayRecord>();
  for (int64_t p = whole - kRecord; p >= pos; p -= kRecord) {
    file.ReadAt(p, record->data(), kRecord);
    file.WriteAt(p + kRecord, record->data(), kRecord);
  }
  file.WriteAt(pos, day.data(), kRecord);
}

// The records in front of pos, the day and the records from pos on (one by one) go to a side file
// that replaces the datafile, so that a death on the way leaves the old file whole.
void InsertBySideFile(GroupDatafile& group, LayerFile& file, int64_t pos, int64_t whole,
                      wire::ConstDayBytes day) {
  auto moved = std::make_unique<wire::DayRecord>();
  bool renamed = false;
  try {
    ReplaceBySideFile(
        FilesOf(group), group.FileName,
        [&](LayerFile& side) {
          CopyBytes(file, 0, pos, side, 0);
          side.WriteAt(pos, day.data(), kRecord);
          for (int64_t p = pos; p < whole; p += kRecord) {
            file.ReadAt(p, moved->data(), kRecord);
            side.WriteAt(p + kRecord, moved->data(), kRecord);
          }
        },
        [&] { renamed = true; });
  } catch (...) {
    // Only the directory's sync failed: the new file is in place all the same, and pending
    // entries at offsets of the old layout must not be laid over it.
    if (renamed && group.Journal) group.Journal->Reset();
    throw;
  }
  // The journal's entries hold offsets of the old layout, and the new file holds them all (it
  // was read through the pending entries).
  if (group.Journal) group.Journal->Reset();
}

}  // namespace

InsertionWay ChooseInsertion(const GroupDatafile& group, int64_t tailBytes) {
  if (group.Journal) {
    // The journal's cap refuses an entry once its pending bytes reach it, so one tail at most
    // passes it.
    return tailBytes <= kJournalledTailLimit ? InsertionWay::JournalledTail
                                             : InsertionWay::SideFile;
  }
  // Files that are synced promise a whole datafile after a power cut: only the side file keeps
  // that without a journal.
  return FilesOf(group).Syncs() ? InsertionWay::SideFile : InsertionWay::InPlace;
}

ChangeStatus InsertDay(GroupDatafile& group, LayerFile& file, int64_t pos, int64_t size,
                       wire::ConstDayBytes day) {
  const int64_t whole = size / kRecord * kRecord;
  switch (ChooseInsertion(group, whole - pos)) {
    case InsertionWay::JournalledTail:
      JournalTail(*group.Journal, file, pos, whole, day);
      return ChangeStatus::Journalled;
    case InsertionWay::InPlace:
      MoveTailInPlace(file, pos, whole, day);
      return ChangeStatus::Stored;
    case InsertionWay::SideFile:
      break;
  }
  InsertBySideFile(group, file, pos, whole, day);
  return ChangeStatus::Stored;
}

void IndexInsertion(GroupDatafile& group, int64_t pos, double date) {
  TmyDBIndex& index = group.Index;
  group.LookupDate = 0;
  group.LookupOffset = 0;
  // The index is in file order; offsets are 32-bit, and records past them lose their entries
  // (a lookup of them then scans from the last entry).
  const auto at = static_cast<size_t>(
      std::find_if(index.begin(), index.end(),
                   [&](const TmyDBIndexEntry& entry) { return entry.Offset >= pos; }) -
      index.begin());
  for (size_t i = at; i < index.size(); ++i) {
    if (index[i].Offset > INT32_MAX - kRecord) {
      index.resize(i);
      break;
    }
    index[i].Offset += static_cast<int32_t>(kRecord);
  }
  if (pos <= INT32_MAX - kRecord) {
    index.insert(index.begin() + static_cast<std::ptrdiff_t>(at),
                 TmyDBIndexEntry{date, static_cast<int32_t>(pos)});
  }
}

}  // namespace qv::store
