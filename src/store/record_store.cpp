#include "store/record_store.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/files.h"
#include "platform/time.h"
#include "store/day_insertion.h"
#include "store/file_layer.h"
#include "store/journal.h"
#include "store/pending_view.h"
#include "store/write_scope.h"
#include "wire/request_fields.h"

namespace qv::store {
namespace {

using platform::OpenMode;
using File = LayerFile;

constexpr int64_t kRecord = wire::kDayRecordSize;

// TDateTime of 0001-01-01 and 9999-12-31: a request outside them is not a calendar day.
constexpr double kFirstUsableDay = -693593;
constexpr double kLastUsableDay = 2958465;

constexpr const char* kCannotInsertFirstReason =
    "the day may not go in front of the first day of the datafile";
constexpr const char* kIndexReason = "a slot or line index out of range";
constexpr const char* kDateReason = "not a calendar day";

bool IsUsableDayKey(double key) {
  return key != 0 && key >= kFirstUsableDay && key <= kLastUsableDay;  // false for NaN
}

// Why a change of the day of key is refused before any file is opened; empty when it is not.
std::string RefusedDay(wire::LogSink& log, double key) {
  if (!IsUsableDayKey(key)) {
    log.WriteMsg(wire::MsgId::IncorrectDate);
    return kDateReason;
  }
  if (key > wire::DayKey(platform::Today()) + kHorizonDays) {
    log.WriteMsg(wire::MsgId::IncorrectDate);
    return "more than " + std::to_string(static_cast<int>(kHorizonDays / 365)) + " years ahead";
  }
  return {};
}

double ReadDate(File& file, int64_t pos) {
  uint8_t bytes[sizeof(double)];
  file.ReadAt(pos, bytes, sizeof bytes);
  return wire::LoadField<double>(bytes);
}

void CopyRecord(wire::DayBytes to, wire::ConstDayBytes from) {
  if (to.data() != from.data()) std::memcpy(to.data(), from.data(), to.size());
}

void SetBlankDay(wire::DayBytes to, const GroupDatafile& group, double key) {
  CopyRecord(to, *group.BlankRecord);
  wire::SetDayDate(to, key);
}

// Where the scan for a day stopped: a whole record of that day, a whole record of a later day
// (the place to insert), or the end of the whole records.
struct Found {
  int64_t pos = 0;
  bool atEnd = true;
  bool sameDay = false;
};

Found FindRecord(GroupDatafile& group, File& file, int64_t size, double key) {
  const int64_t hint = FindIndexOffset(group, key);
  int64_t pos = 0;
  // A hint only saves scanning (insertions keep the index up to date, but a failed one may leave
  // it behind the file): one whose record is later than the day makes the scan start from the
  // beginning.
  if (hint > 0 && hint % kRecord == 0 && hint + kRecord <= size) {
    const double hinted = wire::DayKey(ReadDate(file, hint));
    if (hinted == key) return {hint, false, true};
    if (!(hinted > key)) pos = hint + kRecord;
  }
  // Only whole records count: a partial record at the end is never read.
  for (; pos + kRecord <= size; pos += kRecord) {
    const double current = wire::DayKey(ReadDate(file, pos));
    if (current >= key) return {pos, false, current == key};
  }
  return {pos, true, false};
}

// Where a change of a day goes: the position of its record, or of the later record in front of
// which it is inserted, or the end of the whole records.
struct Place {
  int64_t pos = 0;
  bool insert = false;
};

// Positions on the day of key for a change and loads day with it: the stored day, or the blank
// record with the day's date. Nothing when the day may not go in front of the first record.
std::optional<Place> PlaceDay(GroupDatafile& group, wire::LogSink& log, File& file, int64_t size,
                              double key, wire::DayRecord& day) {
  const Found found = FindRecord(group, file, size, key);
  if (found.sameDay) {
    file.ReadAt(found.pos, day.data(), kRecord);
    return Place{found.pos, false};
  }
  if (!found.atEnd && found.pos == 0 && !group.MayInsertFirst) {
    log.WriteMsg(wire::MsgId::CannotInsertFirst, group.Alias);
    return std::nullopt;
  }
  // A new day: in front of a later record, or directly after the last whole record (the file
  // grows by one record even when days are missing in between).
  SetBlankDay(day, group, key);
  return Place{found.pos, !found.atEnd};
}

// FillWeek when records dated before their place lie among the week's records: reads record by
// record from pos on, passing over every record dated before the day it is read for, so that
// the days behind it are still found.
void FillWeekPassingOver(GroupDatafile& group, File& file, int64_t pos, int64_t size, double key,
                         int count) {
  auto record = std::make_unique<wire::DayRecord>();
  bool loaded = false;  // record holds the record at pos
  for (int i = 0; i < count; ++i) {
    const wire::DayBytes entry(group.Week->Day(i), wire::kDayRecordSize);
    const double day = key + i;
    bool found = false;
    while (pos + kRecord <= size) {
      if (!loaded) {
        file.ReadAt(pos, record->data(), kRecord);
        loaded = true;
      }
      const double date = wire::DayKey(wire::DayDate(*record));
      if (date < day) {  // passed over
        pos += kRecord;
        loaded = false;
        continue;
      }
      if (date == day) {
        CopyRecord(entry, *record);
        pos += kRecord;
        loaded = false;
        found = true;
      }
      break;
    }
    if (!found) SetBlankDay(entry, group, day);
  }
}

// Fills the week cache with the days key .. key + count - 1: one read of the whole records from
// the day's position on, then each record goes to the entry of its day; a record of a later day
// waits for that day, and the days without a record become blank days. A record dated before the
// day it is read for (a second copy of a day or a record out of order) is passed over.
void FillWeek(GroupDatafile& group, File& file, double key, int count) {
  const int64_t size = file.Size();
  const int64_t pos = FindRecord(group, file, size, key).pos;
  const int whole = static_cast<int>(std::min<int64_t>(count, (size - pos) / kRecord));
  if (whole > 0) file.ReadAt(pos, group.Week->Day(0), static_cast<size_t>(whole) * kRecord);

  auto entry = [&](int i) { return wire::DayBytes(group.Week->Day(i), wire::kDayRecordSize); };
  std::array<int, wire::days_reply::kMaxDays> source{};
  for (int i = 0, next = 0; i < count; ++i) {
    if (next < whole && wire::DayKey(wire::DayDate(entry(next))) < key + i) {
      return FillWeekPassingOver(group, file, pos, size, key, count);
    }
    const bool matches = next < whole && wire::DayKey(wire::DayDate(entry(next))) == key + i;
    source[i] = matches ? next++ : -1;
  }
  // source[i] <= i: filling from the last entry never overwrites a record still to be moved.
  for (int i = count - 1; i >= 0; --i) {
    if (source[i] < 0) {
      SetBlankDay(entry(i), group, key + i);
    } else if (source[i] != i) {
      CopyRecord(entry(i), entry(source[i]));
    }
  }
}

void MergeParts(wire::DayBytes target, wire::ConstDayBytes source, const uint8_t* flags) {
  auto copy = [&](size_t offset, size_t size) {
    std::memcpy(target.data() + offset, source.data() + offset, size);
  };
  if (flags[wire::request::kPartTitle]) copy(wire::day::kTitle.offset, wire::day::kTitle.Size());
  if (flags[wire::request::kPartMemo]) copy(wire::day::kMemoOffset, wire::day::kMemoSize);
  if (flags[wire::request::kPartSlots]) {
    copy(wire::day::kSlotTimesOffset, wire::day::kSlotTimesSize);
    copy(wire::day::kSlotTextsOffset, wire::day::kSlotTextsSize);
    for (int slot = 0; slot < wire::day::kSlotCount; ++slot) wire::SetSlotId(target, slot, 0);
  }
  if (flags[wire::request::kPartFirstList])
    copy(wire::day::kFirstLinesOffset, wire::day::kLineListSize);
  if (flags[wire::request::kPartSecondList])
    copy(wire::day::kSecondLinesOffset, wire::day::kLineListSize);
}

// Opens the datafile and lets read use it, then closes it. A failure is repeated once (message
// 31), a second one is logged (message 30) and gives false. With openFailureToCaller a datafile
// that cannot be opened at all throws to the caller at once, without a repeat.
template <class Read>
bool ReadDatafile(GroupDatafile& group, wire::LogSink& log, bool openFailureToCaller, Read read) {
  for (int attempt = 0;; ++attempt) {
    std::unique_ptr<File> file;
    if (openFailureToCaller) {
      try {
        file = OpenDatafile(group, OpenMode::ReadWrite);
      } catch (...) {
        group.ReadRetry = false;
        throw;
      }
    }
    try {
      if (!file) file = OpenDatafile(group, OpenMode::ReadWrite);
      read(*file);
      file->Close();  // a close error is a failure too, and is retried
      group.ReadRetry = false;
      return true;
    } catch (const std::exception&) {
      file.reset();
      if (attempt == 0) {
        log.WriteMsg(wire::MsgId::FileReread, group.FileName);
        group.ReadRetry = true;
        continue;
      }
      group.ReadRetry = false;
      log.WriteMsg(wire::MsgId::FileReadError, group.FileName);
      return false;
    }
  }
}

// The bytes of a record a change touched: from the first to the last that differ. A new day is
// the whole record.
struct ChangedSpan {
  size_t start = 0;
  size_t length = wire::kDayRecordSize;
};

ChangedSpan Changed(const wire::DayRecord& before, const wire::DayRecord& after) {
  size_t first = 0;
  while (first < before.size() && before[first] == after[first]) ++first;
  if (first == before.size()) return {0, 0};
  size_t last = before.size();
  while (before[last - 1] == after[last - 1]) --last;
  return {first, last - first};
}

// Places the day of key in `day` (the record found, or a new blank day inserted in front of a
// later record or appended), lets change modify it and writes it back: appended to the journal
// when the group has one, else written in place; an insertion moves the records behind it
// (store/day_insertion.h). A failure is repeated once at once (an edit's repeat is announced,
// message 35); a second failure is logged (message 32) and reported. Nothing in this process holds
// the datafile between the two attempts (the checkpoint and the feed open it without a lock), so
// the repeat does not wait.
template <class Change>
StoreOutcome ChangeDay(GroupDatafile& group, wire::LogSink& log, double key, bool announceRetry,
                       wire::DayRecord& day, Change change) {
  if (!group.EditsRefusedWhy.empty()) return StoreOutcome::Failed(group.EditsRefusedWhy);
  for (int attempt = 0;; ++attempt) {
    WriteScope writing(group);
    std::unique_ptr<File> file;
    try {
      file = OpenDatafile(group, OpenMode::ReadWrite);
      const int64_t size = file->Size();
      const std::optional<Place> place = PlaceDay(group, log, *file, size, key, day);
      if (!place) {
        file->Close();
        group.WriteRetry = false;
        return StoreOutcome::Refused(kCannotInsertFirstReason);
      }
      // Of a stored day only the bytes the change touches are written (and journalled).
      const bool stored =
          place->pos + kRecord <= size && !place->insert && wire::DayKey(wire::DayDate(day)) == key;
      std::unique_ptr<wire::DayRecord> before;
      if (stored) before = std::make_unique<wire::DayRecord>(day);
      change(day);
      StoreOutcome outcome;
      if (place->insert) {
        outcome.status = InsertDay(group, *file, place->pos, size, day);
        IndexInsertion(group, place->pos, key);
      } else {
        const ChangedSpan span = stored ? Changed(*before, day) : ChangedSpan{};
        if (span.length > 0 && group.Journal) {
          // The change is acknowledged, and written in place, once its journal entry is durable;
          // until then reads see it through the pending entries.
          group.Journal->Append(place->pos, key, day, span.start, span.length);
          outcome.status = ChangeStatus::Journalled;
        } else if (span.length > 0) {
          file->WriteAt(place->pos + static_cast<int64_t>(span.start), day.data() + span.start,
                        span.length);
        }
      }
      file->Close();  // a close error is a failure too, and is retried
      group.WriteRetry = false;
      return outcome;
    } catch (const JournalRefused& e) {
      // Over its cap, or its write failed: the journal took nothing, and a repeat at once would
      // meet the same state.
      group.WriteRetry = false;
      log.WriteMsg(wire::MsgId::FileWriteError, group.FileName + " (" + e.what() + ")");
      return StoreOutcome::Failed(e.what());
    } catch (const std::exception& e) {
      file.reset();
      if (attempt == 0) {
        if (announceRetry) log.WriteMsg(wire::MsgId::FileRewrite, group.FileName);
        group.WriteRetry = true;
        continue;
      }
      group.WriteRetry = false;
      log.WriteMsg(wire::MsgId::FileWriteError, group.FileName);
      return StoreOutcome::Failed(e.what());
    }
  }
}

}  // namespace

int32_t FindIndexOffset(GroupDatafile& group, double date) {
  const double key = wire::DayKey(date);
  if (key == group.LookupDate) return group.LookupOffset;
  // The last entry before the day: the scan from there meets the first copy of the day should
  // a death have left the datafile holding it twice (the first copy is the one kept up to date).
  int32_t hint = 0;
  for (const TmyDBIndexEntry& entry : group.Index) {
    if (!(wire::DayKey(entry.Date) < key)) break;
    hint = entry.Offset;
  }
  group.LookupOffset = hint;
  group.LookupDate = key;
  return hint;
}

void ReadDays(GroupDatafile& group, wire::LogSink& log, int32_t days, double date) {
  const int count = std::clamp(days, 1, kMaxWeekDays);
  const double key = wire::DayKey(date);
  ReadDatafile(group, log, true, [&](File& file) { FillWeek(group, file, key, count); });
}

StoreOutcome WriteDayParts(GroupDatafile& group, wire::LogSink& log, wire::ConstDayBytes incoming,
                           double date, const uint8_t* partFlags, wire::DayRecord* after) {
  // Incoming may be the caller's day buffer, which the search overwrites.
  auto parts = std::make_unique<wire::DayRecord>();
  CopyRecord(*parts, incoming);
  const double key = wire::DayKey(date);
  if (std::string why = RefusedDay(log, key); !why.empty()) return StoreOutcome::Refused(why);
  auto day = std::make_unique<wire::DayRecord>();
  StoreOutcome outcome = ChangeDay(group, log, key, false, *day,
                                   [&](wire::DayRecord& d) { MergeParts(d, *parts, partFlags); });
  if (after != nullptr) *after = *day;
  return outcome;
}

StoreOutcome CopyDay(GroupDatafile& group, wire::LogSink& log, const uint8_t* copyRequest,
                     wire::DayRecord* after) {
  const double sourceKey =
      wire::DayKey(wire::LoadField<double>(copyRequest + wire::request::kSourceDateOffset));
  const double targetKey =
      wire::DayKey(wire::LoadField<double>(copyRequest + wire::request::kDateOffset));
  auto source = std::make_unique<wire::DayRecord>();
  const bool read = ReadDatafile(group, log, false, [&](File& file) {
    const Found found = FindRecord(group, file, file.Size(), sourceKey);
    if (found.sameDay) {
      file.ReadAt(found.pos, source->data(), kRecord);
    } else {
      CopyRecord(*source, *group.BlankRecord);
    }
  });
  if (!read) return StoreOutcome::Failed("the source day could not be read");
  wire::SetDayDate(*source, targetKey);
  return WriteDayParts(group, log, *source, targetKey,
                       copyRequest + wire::request::kPartFlagsOffset, after);
}

StoreOutcome EditDay(GroupDatafile& group, wire::LogSink& log, int32_t code, int32_t index,
                     const uint8_t* request, uint8_t* notice, wire::DayRecord* after) {
  if (!EditIndexInRange(code, index)) {
    log.WriteMsg(wire::MsgId::IncorrectValues, " " + group.Alias);
    return StoreOutcome::Refused(kIndexReason);
  }
  const double key = wire::DayKey(wire::LoadField<double>(request + wire::request::kDateOffset));
  if (std::string why = RefusedDay(log, key); !why.empty()) return StoreOutcome::Refused(why);
  auto day = std::make_unique<wire::DayRecord>();
  StoreOutcome outcome = ChangeDay(group, log, key, true, *day, [&](wire::DayRecord& d) {
    ApplyEdit(d, code, index, request, notice, key);
  });
  if (after != nullptr) *after = *day;
  return outcome;
}

}  // namespace qv::store
