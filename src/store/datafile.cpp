#include "store/datafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/close_quietly.h"
#include "platform/time.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;

constexpr int64_t kRecord = kDayRecordSize;

const char* const kFirstNullRecord = "Error correction of database.(First Null record) ";
const char* const kNullRecord = "Error correction of database.(Null record) ";
const char* const kCorrectionFailed = "Error correction of database.";

double ReadDate(File& file, int64_t pos) {
  uint8_t bytes[sizeof(double)];
  file.ReadAt(pos, bytes, sizeof bytes);
  return LoadField<double>(bytes);
}

void ReadRecord(File& file, int64_t index, DayBytes into) {
  file.ReadAt(index * kRecord, into.data(), into.size());
}

void WriteRecord(File& file, int64_t index, ConstDayBytes from) {
  file.WriteAt(index * kRecord, from.data(), from.size());
}

// Clears Busy however OpenGroupDatafile leaves.
class BusyScope {
 public:
  explicit BusyScope(GroupDatafile& group) : group_(group) { group_.Busy = true; }
  ~BusyScope() { group_.Busy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  GroupDatafile& group_;
};

struct Gap {
  double date;      // day date of the record after the hole
  int64_t missing;  // days missing in front of it
  int64_t shift;    // missing days of this and every earlier gap
};

// Moves the first k datafile records to the end of the archive and keeps the archive to its
// newest countArc records. Returns whether the archive holds any record afterwards.
bool AppendToArchive(File& datafile, const std::string& archiveName, int64_t k, int64_t countArc,
                     DayBytes buffer) {
  File archive = File::Open(archiveName, OpenMode::CreateReadWrite);
  // Appending at the last whole record also overwrites a partial record left at the end.
  const int64_t held = archive.Size() / kRecord;
  for (int64_t i = 0; i < k; ++i) {
    ReadRecord(datafile, i, buffer);
    WriteRecord(archive, held + i, buffer);
  }
  const int64_t total = held + k;
  if (total > countArc) {
    const int64_t excess = total - countArc;
    for (int64_t i = 0; i < countArc; ++i) {
      ReadRecord(archive, excess + i, buffer);
      WriteRecord(archive, i, buffer);
    }
    archive.Truncate(countArc * kRecord);
  }
  const bool holdsRecords = archive.Size() >= kRecord;
  archive.Close();
  return holdsRecords;
}

// Drops the first k of n datafile records by moving the rest to the front.
void DropFirstRecords(File& datafile, int64_t k, int64_t n, DayBytes buffer) {
  for (int64_t i = k; i < n; ++i) {
    ReadRecord(datafile, i, buffer);
    WriteRecord(datafile, i - k, buffer);
  }
  datafile.Truncate((n - k) * kRecord);
}

}  // namespace

void BuildBlankRecord(DayBytes record, int32_t timeBegin, int32_t timeEnd, int32_t step) {
  std::fill(record.begin(), record.end(), uint8_t{0});
  StoreField(record.data() + day::kFormatMarkOffset, day::kBlankFormatMark);
  // Everything else is already empty: title, memo strings, slots, ids, counter and lines.
  int64_t hour = timeBegin;
  for (int i = 0; i < day::kSlotCount / 2; ++i) {
    std::string label = std::to_string(hour) + ".00";
    if (label.size() < day::kSlotTimeCapacity) label = " " + label;
    SetSlotTime(record, 2 * i, label);  // cut to 5 characters
    if (hour >= timeEnd) break;
    hour += static_cast<int64_t>(step) + 1;
  }
}

std::string ArchiveName(const std::string& datafileName) {
  return platform::ChangeExtension(datafileName, ".arc");
}

std::string CorrectDatafile(File& file, ConstDayBytes blank, double today) {
  try {
    const double limit = today + kCorrectionHorizonDays;
    const int64_t n = file.Size() / kRecord;
    if (n < 2) return {};

    double date = ReadDate(file, 0);
    if (DayKey(date) == 0) return kFirstNullRecord;

    // Scan the dates first, so that a null record leaves the file untouched.
    std::vector<Gap> gaps;
    int64_t totalMissing = 0;
    double previous = date;
    double lastRead = date;
    for (int64_t k = 1; k < n; ++k) {
      date = ReadDate(file, k * kRecord);
      lastRead = date;
      if (DayKey(date) == 0) return kNullRecord;
      if (date > limit) break;
      if (date > previous + 1) {
        const double missing = std::trunc(date - previous) - 1;
        // A wild date in the file must not grow the datafile past what the index can address.
        if (!(missing <= static_cast<double>(kMaxDatafileRecords - n - totalMissing))) {
          return kCorrectionFailed;
        }
        if (missing >= 1) {
          totalMissing += static_cast<int64_t>(missing);
          gaps.push_back({date, static_cast<int64_t>(missing), totalMissing});
        }
      }
      previous = date;
    }
    if (gaps.empty()) return {};

    // Expand from the end: every record moves up by the shift of its gap, then the missing
    // days are written in front of the record that starts the gap, the latest first.
    auto buffer = std::make_unique<DayRecord>();
    auto blankDay = std::make_unique<DayRecord>();
    std::memcpy(blankDay->data(), blank.data(), blank.size());
    double current = lastRead + 1;
    int64_t source = n - 1;  // record index
    for (auto gap = gaps.rbegin(); gap != gaps.rend(); ++gap) {
      while (current > gap->date) {
        if (source < 0) throw std::runtime_error("correction ran past the first record");
        ReadRecord(file, source, *buffer);
        current = DayDate(*buffer);
        WriteRecord(file, source + gap->shift, *buffer);
        --source;
      }
      const int64_t moved = source + 1 + gap->shift;  // where the gap's record now is
      for (int64_t j = 1; j <= gap->missing; ++j) {
        SetDayDate(*blankDay, current - static_cast<double>(j));
        WriteRecord(file, moved - j, *blankDay);
      }
    }
    return {};
  } catch (const std::exception&) {
    return kCorrectionFailed;
  }
}

int BuildIndex(File& file, TmyDBIndex& index) {
  const int64_t size = file.Size();
  const int64_t n = std::min(size / kRecord, int64_t{kMaxDatafileRecords});
  index.assign(static_cast<size_t>(n), TmyDBIndexEntry{0, 0});
  int result = 0;
  double previous = 0.0;
  int64_t filled = 0;
  try {
    for (; filled < n; ++filled) {
      const int64_t pos = filled * kRecord;
      const double date = ReadDate(file, pos);
      index[static_cast<size_t>(filled)] = {date, static_cast<int32_t>(pos)};
      if (!(previous < date)) result = 1;  // also a NaN date
      previous = date;
    }
  } catch (const std::exception&) {
    // A read failure ends the index where it is.
  }
  index.resize(static_cast<size_t>(filled));
  return result;
}

int BuildIndex(const std::string& fileName, TmyDBIndex& index) {
  File file = File::Open(fileName, OpenMode::Read);
  const int result = BuildIndex(file, index);
  file.Close();
  return result;
}

void OpenGroupDatafile(GroupDatafile& group, LogSink& log) {
  OpenGroupDatafile(group, log, platform::Today());
}

void OpenGroupDatafile(GroupDatafile& group, LogSink& log, double today) {
  if (group.Busy) return;
  BusyScope busy(group);
  const std::string archiveName = ArchiveName(group.FileName);
  File datafile;
  try {
    datafile = File::Open(group.FileName, OpenMode::ReadWrite);
  } catch (...) {
    // Unknown state: no day may go in front of the first record.
    group.MayInsertFirst = false;
    throw;
  }
  group.MayInsertFirst = true;
  try {
    const std::string text = CorrectDatafile(datafile, *group.BlankRecord, today);
    if (!text.empty()) log.Write(group.Alias + " -> " + text);

    const int64_t n = datafile.Size() / kRecord;
    int64_t past = 0;
    while (past < n && DayKey(ReadDate(datafile, past * kRecord)) < today) ++past;

    if (platform::FileExists(archiveName)) group.MayInsertFirst = false;
    const int64_t keep = std::max<int64_t>(group.Count, 0);
    if (past > keep) {
      const int64_t k = past - keep;
      const int64_t countArc = std::max<int64_t>(group.CountArc, 0);
      if (AppendToArchive(datafile, archiveName, k, countArc, *group.WorkRecord)) {
        group.MayInsertFirst = false;
      }
      DropFirstRecords(datafile, k, n, *group.WorkRecord);
    }
    if (datafile.Size() > kInsertFirstRecordLimit * kRecord) group.MayInsertFirst = false;
    datafile.Close();
  } catch (const std::exception&) {
    log.WriteMsg(MsgId::DatabaseStructureError, group.Alias);
    group.MayInsertFirst = false;
    platform::CloseQuietly(datafile);
  }
}

void PrepareGroupDatafile(GroupDatafile& group, LogSink& log) {
  PrepareGroupDatafile(group, log, platform::Today());
}

void PrepareGroupDatafile(GroupDatafile& group, LogSink& log, double today) {
  if (group.FileName.empty()) {
    group.NoDatafile = true;
    return;
  }
  group.NoDatafile = false;
  OpenGroupDatafile(group, log, today);
  log.WriteMsg(MsgId::DataCorrectionDone, group.Alias);
  if (BuildIndex(group.FileName, group.Index) == 1) {
    log.WriteMsg(MsgId::StructureCorrectionRequired, " -> " + group.Alias);
  }
  // The index is new: a remembered lookup may point anywhere.
  group.LookupDate = 0;
  group.LookupOffset = 0;
  if (!group.MayInsertFirst && !group.Index.empty()) group.FirstDate = group.Index.front().Date;
}

}  // namespace qv::store
