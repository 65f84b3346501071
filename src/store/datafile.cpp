#include "store/datafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/close_quietly.h"
#include "platform/time.h"
#include "store/journal.h"
#include "store/side_file.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;

constexpr int64_t kRecord = wire::kDayRecordSize;

const char* const kFirstNullRecord = "Error correction of database.(First Null record) ";
const char* const kNullRecord = "Error correction of database.(Null record) ";
const char* const kCorrectionFailed = "Error correction of database.";

template <class F>
double ReadDate(F& file, int64_t pos) {
  uint8_t bytes[sizeof(double)];
  file.ReadAt(pos, bytes, sizeof bytes);
  return wire::LoadField<double>(bytes);
}

void ReadRecord(LayerFile& file, int64_t index, wire::DayBytes into) {
  file.ReadAt(index * kRecord, into.data(), into.size());
}

void WriteRecord(LayerFile& file, int64_t index, wire::ConstDayBytes from) {
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
  int64_t record;   // index of the record after the hole
  double date;      // its day date
  int64_t missing;  // days missing in front of it
};

// Moves the first k datafile records into the archive and keeps the archive to its newest
// countArc records; the archive is complete and synced when this returns. Returns whether the
// archive holds any record afterwards.
//
// The plain case appends in place behind the last whole archive record: a death on the way
// leaves the old records whole, and the next start, finding days of the datafile already in the
// archive, takes the second way: the archive is written anew through a side file from its
// records that the datafile does not hold (the datafile's copy of a day wins) followed by the
// moved records, of which it keeps the newest countArc. Either way the next start may move the
// same days again without losing or doubling one.
bool AppendToArchive(FileLayer& files, LayerFile& datafile, const std::string& archiveName,
                     int64_t k, int64_t countArc, wire::DayBytes buffer) {
  std::vector<double> moved(static_cast<size_t>(k));
  for (int64_t i = 0; i < k; ++i) moved[static_cast<size_t>(i)] = ReadDate(datafile, i * kRecord);

  std::unique_ptr<LayerFile> archive = files.Open(archiveName, OpenMode::CreateReadWrite);
  const int64_t held = archive->Size() / kRecord;
  std::vector<double> heldDates(static_cast<size_t>(held));
  for (int64_t i = 0; i < held; ++i)
    heldDates[static_cast<size_t>(i)] = ReadDate(*archive, i * kRecord);
  const double last =
      held > 0 ? wire::DayKey(heldDates.back()) : -std::numeric_limits<double>::infinity();
  const bool plainAppend =
      held + k <= countArc &&
      std::all_of(moved.begin(), moved.end(), [&](double d) { return wire::DayKey(d) > last; });
  if (plainAppend) {
    // Appending at the last whole record also overwrites a partial record left at the end.
    for (int64_t i = 0; i < k; ++i) {
      ReadRecord(datafile, i, buffer);
      WriteRecord(*archive, held + i, buffer);
    }
    archive->Truncate((held + k) * kRecord);
    archive->Sync();
    archive->Close();
    return held + k > 0;
  }

  std::vector<double> movedKeys(moved.size());
  std::transform(moved.begin(), moved.end(), movedKeys.begin(), wire::DayKey);
  std::sort(movedKeys.begin(), movedKeys.end());
  // (file, record) of every record of the new archive, oldest first.
  std::vector<std::pair<LayerFile*, int64_t>> records;
  for (int64_t i = 0; i < held; ++i) {
    const double key = wire::DayKey(heldDates[static_cast<size_t>(i)]);
    if (!std::binary_search(movedKeys.begin(), movedKeys.end(), key)) {
      records.emplace_back(archive.get(), i);
    }
  }
  for (int64_t i = 0; i < k; ++i) records.emplace_back(&datafile, i);
  const size_t skip = records.size() > static_cast<size_t>(countArc)
                          ? records.size() - static_cast<size_t>(countArc)
                          : 0;
  ReplaceBySideFile(files, archiveName, [&](LayerFile& side) {
    for (size_t i = skip; i < records.size(); ++i) {
      ReadRecord(*records[i].first, records[i].second, buffer);
      WriteRecord(side, static_cast<int64_t>(i - skip), buffer);
    }
  });
  archive->Close();
  return records.size() > skip;
}

// Drops the first k of the n whole datafile records: the rest go to a side file, one by one in
// ascending order, which then replaces the datafile.
void DropFirstRecords(FileLayer& files, LayerFile& datafile, const std::string& name, int64_t k,
                      int64_t n, wire::DayBytes buffer) {
  ReplaceBySideFile(files, name, [&](LayerFile& side) {
    for (int64_t i = k; i < n; ++i) {
      ReadRecord(datafile, i, buffer);
      WriteRecord(side, i - k, buffer);
    }
  });
}

}  // namespace

void BuildBlankRecord(wire::DayBytes record, int32_t timeBegin, int32_t timeEnd, int32_t step) {
  std::fill(record.begin(), record.end(), uint8_t{0});
  wire::StoreField(record.data() + wire::day::kFormatMarkOffset, wire::day::kBlankFormatMark);
  // Everything else is already empty: title, memo strings, slots, ids, counter and lines.
  int64_t hour = timeBegin;
  for (int i = 0; i < wire::day::kSlotCount / 2; ++i) {
    std::string label = std::to_string(hour) + ".00";
    if (label.size() < wire::day::kSlotTimeCapacity) label = " " + label;
    wire::SetSlotTime(record, 2 * i, label);  // cut to 5 characters
    if (hour >= timeEnd) break;
    hour += static_cast<int64_t>(step) + 1;
  }
}

std::string ArchiveName(const std::string& datafileName) {
  return platform::ChangeExtension(datafileName, ".arc");
}

std::string CorrectDatafile(FileLayer& files, LayerFile& datafile, const std::string& path,
                            wire::ConstDayBytes blank, double today) {
  try {
    LayerFile* file = &datafile;
    const double limit = today + kCorrectionHorizonDays;
    const int64_t n = file->Size() / kRecord;
    if (n < 2) return {};

    double date = ReadDate(*file, 0);
    if (wire::DayKey(date) == 0) return kFirstNullRecord;

    // Scan the dates first, so that a null record leaves the file untouched.
    std::vector<Gap> gaps;
    int64_t totalMissing = 0;
    double previous = date;
    bool ascending = true;
    for (int64_t k = 1; k < n; ++k) {
      date = ReadDate(*file, k * kRecord);
      if (wire::DayKey(date) == 0) return kNullRecord;
      if (date > limit) break;
      if (!(wire::DayKey(date) > wire::DayKey(previous))) ascending = false;
      if (date > previous + 1) {
        const double missing = std::trunc(date - previous) - 1;
        // A wild date in the file must not grow the datafile past what the index can address.
        if (!(missing <= static_cast<double>(kMaxDatafileRecords - n - totalMissing))) {
          return kCorrectionFailed;
        }
        if (missing >= 1) {
          totalMissing += static_cast<int64_t>(missing);
          gaps.push_back({k, date, static_cast<int64_t>(missing)});
        }
      }
      previous = date;
    }
    if (gaps.empty()) return {};
    // Blank days filled in among days out of order would carry the dates of real ones.
    if (!ascending) return kCorrectionFailed;

    // The records go to a side file in order, each gap's missing days written in front of the
    // record that ends it; the side file then replaces the datafile.
    auto buffer = std::make_unique<wire::DayRecord>();
    auto blankDay = std::make_unique<wire::DayRecord>();
    std::memcpy(blankDay->data(), blank.data(), blank.size());
    ReplaceBySideFile(files, path, [&](LayerFile& side) {
      int64_t out = 0;
      auto gap = gaps.begin();
      for (int64_t k = 0; k < n; ++k) {
        if (gap != gaps.end() && gap->record == k) {
          for (int64_t j = gap->missing; j >= 1; --j) {
            wire::SetDayDate(*blankDay, gap->date - static_cast<double>(j));
            WriteRecord(side, out++, *blankDay);
          }
          ++gap;
        }
        ReadRecord(*file, k, *buffer);
        WriteRecord(side, out++, *buffer);
      }
    });
    return {};
  } catch (const std::exception&) {
    return kCorrectionFailed;
  }
}

namespace {

template <class F>
int BuildIndexOf(F& file, TmyDBIndex& index) {
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

}  // namespace

int BuildIndex(File& file, TmyDBIndex& index) {
  return BuildIndexOf(file, index);
}

int BuildIndex(LayerFile& file, TmyDBIndex& index) {
  return BuildIndexOf(file, index);
}

int BuildIndex(const std::string& fileName, TmyDBIndex& index) {
  File file = File::Open(fileName, OpenMode::Read);
  const int result = BuildIndex(file, index);
  file.Close();
  return result;
}

void OpenGroupDatafile(GroupDatafile& group, wire::LogSink& log) {
  OpenGroupDatafile(group, log, platform::Today());
}

void OpenGroupDatafile(GroupDatafile& group, wire::LogSink& log, double today) {
  if (group.Busy) return;
  BusyScope busy(group);
  FileLayer& files = FilesOf(group);
  const std::string archiveName = ArchiveName(group.FileName);
  RemoveLeftoverSideFiles(files, {group.FileName, archiveName}, log);
  std::unique_ptr<LayerFile> datafile;
  try {
    datafile = files.Open(group.FileName, OpenMode::ReadWrite);
  } catch (...) {
    // Unknown state: no day may go in front of the first record.
    group.MayInsertFirst = false;
    throw;
  }
  group.MayInsertFirst = true;
  try {
    // Changes journalled by the last run go onto the datafile before anything moves records.
    const int replayed = ReplayJournal(files, group.FileName, *datafile);
    if (replayed > 0) {
      log.Write(group.Alias + " -> journal: " + std::to_string(replayed) +
                " changes written again");
    }
    // Every change of the datafile is written beside it or journalled, so the file as found is
    // whole; the side files replace it under the same name, so it is opened anew after each.
    const std::string text =
        CorrectDatafile(files, *datafile, group.FileName, *group.BlankRecord, today);
    if (!text.empty()) log.Write(group.Alias + " -> " + text);
    datafile->Close();
    datafile = files.Open(group.FileName, OpenMode::ReadWrite);

    const int64_t n = datafile->Size() / kRecord;
    int64_t past = 0;
    while (past < n && wire::DayKey(ReadDate(*datafile, past * kRecord)) < today) ++past;

    if (files.Exists(archiveName)) group.MayInsertFirst = false;
    const int64_t keep = std::max<int64_t>(group.Count, 0);
    int64_t remaining = datafile->Size();
    if (past > keep) {
      const int64_t k = past - keep;
      const int64_t countArc = std::max<int64_t>(group.CountArc, 0);
      // The archive first, complete and synced: until the datafile is replaced every day is in
      // the old datafile, and afterwards in the archive.
      if (AppendToArchive(files, *datafile, archiveName, k, countArc, *group.WorkRecord)) {
        group.MayInsertFirst = false;
      }
      DropFirstRecords(files, *datafile, group.FileName, k, n, *group.WorkRecord);
      remaining = (n - k) * kRecord;
    }
    if (remaining > kInsertFirstRecordLimit * kRecord) group.MayInsertFirst = false;
    datafile->Close();
  } catch (const std::exception&) {
    log.WriteMsg(wire::MsgId::DatabaseStructureError, group.Alias);
    group.MayInsertFirst = false;
    if (datafile) platform::CloseQuietly(*datafile);
  }
}

void PrepareGroupDatafile(GroupDatafile& group, wire::LogSink& log) {
  PrepareGroupDatafile(group, log, platform::Today());
}

void PrepareGroupDatafile(GroupDatafile& group, wire::LogSink& log, double today) {
  if (group.FileName.empty()) {
    group.NoDatafile = true;
    return;
  }
  group.NoDatafile = false;
  OpenGroupDatafile(group, log, today);
  log.WriteMsg(wire::MsgId::DataCorrectionDone, group.Alias);
  std::unique_ptr<LayerFile> file = FilesOf(group).Open(group.FileName, OpenMode::Read);
  const int order = BuildIndex(*file, group.Index);
  file->Close();
  if (order == 1) {
    log.WriteMsg(wire::MsgId::StructureCorrectionRequired, " -> " + group.Alias);
  }
  // The index is new: a remembered lookup may point anywhere.
  group.LookupDate = 0;
  group.LookupOffset = 0;
  if (!group.MayInsertFirst && !group.Index.empty()) group.FirstDate = group.Index.front().Date;
}

}  // namespace qv::store
