#include "store/restructure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/dir_sync.h"
#include "platform/files.h"
#include "wire/day_record.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;

constexpr int64_t kRecord = wire::kDayRecordSize;
constexpr size_t kCopyChunk = 1 << 20;
constexpr int kMaxBackupsPerSecond = 1000;

double DateAt(File& file, int64_t offset) {
  double date = 0;
  file.ReadAt(offset, &date, sizeof date);
  return date;
}

// Opens an existing file unshared for the whole run; nothing when it does not exist.
std::optional<File> OpenIfExists(const std::string& path) {
  if (!platform::FileExists(path)) return std::nullopt;
  return File::Open(path, OpenMode::Read, true);
}

// Appends `bytes` bytes of `from` (from its start) to `to`.
void AppendBytes(File& from, int64_t bytes, File& to) {
  std::vector<uint8_t> buffer(kCopyChunk);
  from.Seek(0);
  while (bytes > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(bytes, kCopyChunk));
    from.Read(buffer.data(), n);
    to.Write(buffer.data(), n);
    bytes -= static_cast<int64_t>(n);
  }
}

// NaN (a damaged record) sorts first so that the order stays total.
double SortKey(double date) {
  return std::isnan(date) ? -std::numeric_limits<double>::infinity() : date;
}

struct Entry {
  int64_t Offset;
  double Date;
};

// Days in ascending order, one entry per day. Of equal days the datafile's copy wins over the
// archive's (records from archiveRecords on are the datafile's), and within one file the first
// copy wins: it is the one the record store reads and changes.
std::vector<Entry> SortedUniqueEntries(const std::vector<double>& dates, size_t archiveRecords) {
  std::vector<size_t> order(dates.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return SortKey(dates[a]) < SortKey(dates[b]); });
  std::vector<Entry> entries;
  entries.reserve(order.size());
  bool fromDatafile = false;  // of the last entry
  for (size_t i : order) {
    const Entry entry{static_cast<int64_t>(i) * kRecord, dates[i]};
    const bool inDatafile = i >= archiveRecords;
    if (!entries.empty() && entries.back().Date == entry.Date) {
      if (inDatafile && !fromDatafile) {
        entries.back().Offset = entry.Offset;
        fromDatafile = true;
      }
    } else {
      entries.push_back(entry);
      fromDatafile = inDatafile;
    }
  }
  return entries;
}

class WorkFiles {
 public:
  explicit WorkFiles(const std::string& datafilePath)
      : Join(platform::ChangeExtension(datafilePath, ".tmp")),
        Sorted(platform::ChangeExtension(datafilePath, ".tm~")),
        NewArchive(ArchivePathFor(datafilePath) + ".new"),
        NewData(datafilePath + ".new") {}

  void RemoveWork() const {
    platform::DeleteFile(Join);
    platform::DeleteFile(Sorted);
  }
  void RemoveAll() const {
    RemoveWork();
    platform::DeleteFile(NewArchive);
    platform::DeleteFile(NewData);
  }

  const std::string Join;
  const std::string Sorted;
  const std::string NewArchive;
  const std::string NewData;
};

// Creates the backup file under name, or name + " (2)", " (3)", ... when taken; path receives
// the name used.
File CreateBackup(const std::string& name, std::string& path) {
  for (int n = 1; n <= kMaxBackupsPerSecond; ++n) {
    path = n == 1 ? name : name + " (" + std::to_string(n) + ")";
    if (std::optional<File> file = File::TryOpen(path, OpenMode::CreateNew))
      return std::move(*file);
    if (errno != EEXIST) break;
  }
  const int error = errno;
  throw platform::FileError("cannot create " + path + ": " + std::strerror(error), error);
}

void Stage(const RestructureOptions& options, const char* name) {
  if (options.OnStage) options.OnStage(name);
}

// What the stages of one run share.
struct RunState {
  RunState(const RestructureOptions& o, const WorkFiles& w)
      : options(o), work(w), archivePath(ArchivePathFor(o.DatafilePath)) {}

  const RestructureOptions& options;
  const WorkFiles& work;
  const std::string archivePath;
  RestructureResult result;
  // Held open (and locked) until the new files are in place.
  std::optional<File> oldArchive;
  std::optional<File> oldData;
  std::optional<File> join;    // archive then datafile, as they are
  std::optional<File> sorted;  // one record per day, ascending
  std::vector<uint8_t> record = std::vector<uint8_t>(kRecord);
  RestructureDates range;
  int64_t archiveRecords = 0;  // whole records of the old archive, first in the join file
  int64_t sourceRecords = 0;
  int64_t next = 0;  // next record of the sorted source
  double lastWritten = 0;
  std::optional<int64_t> carried;  // the record that ended the archive pass
};

// The old archive's whole records followed by the old datafile, in the join file.
void JoinFiles(RunState& run) {
  run.oldArchive = OpenIfExists(run.archivePath);
  run.oldData = OpenIfExists(run.options.DatafilePath);
  Stage(run.options, "join");
  run.work.RemoveWork();
  run.join.emplace(File::Open(run.work.Join, OpenMode::CreateTruncate));
  // Only whole archive records, so that the datafile's records stay on record boundaries.
  run.archiveRecords = run.oldArchive ? run.oldArchive->Size() / kRecord : 0;
  if (run.oldArchive) AppendBytes(*run.oldArchive, run.archiveRecords * kRecord, *run.join);
  if (run.oldData) AppendBytes(*run.oldData, run.oldData->Size(), *run.join);
}

void WriteBackup(RunState& run) {
  Stage(run.options, "backup");
  // Named at the time of the run; an existing file of the name is never overwritten.
  const platform::TDateTime now = run.options.Now != 0 ? run.options.Now : platform::Now();
  File backup = CreateBackup(BackupPathFor(run.options.DatafilePath, now), run.result.BackupPath);
  AppendBytes(*run.join, run.join->Size(), backup);
  backup.Flush();
  backup.Close();
}

// The joined records sorted by day, one per day; a run that finds them out of order only sorts.
void SortRecords(RunState& run) {
  Stage(run.options, "sort");
  File& join = *run.join;
  const int64_t records = join.Size() / kRecord;
  std::vector<double> dates(static_cast<size_t>(records));
  for (int64_t i = 0; i < records; ++i) dates[static_cast<size_t>(i)] = DateAt(join, i * kRecord);
  const std::vector<Entry> entries =
      SortedUniqueEntries(dates, static_cast<size_t>(run.archiveRecords));

  run.sorted.emplace(File::Open(run.work.Sorted, OpenMode::CreateTruncate));
  int64_t readPosition = 0;
  for (const Entry& entry : entries) {
    if (entry.Offset < readPosition) run.result.SequenceFault = true;
    join.ReadAt(entry.Offset, run.record.data(), run.record.size());
    readPosition = entry.Offset + kRecord;
    run.sorted->Write(run.record.data(), run.record.size());
  }
  run.sourceRecords = static_cast<int64_t>(entries.size());

  run.range = run.options.Dates;
  if (run.result.SequenceFault) {
    run.range.Begin = kSequenceOnlyBeginDate;
    run.range.End += kSequenceOnlyEndExtension;
  }
  run.lastWritten = run.range.Begin - 2;
}

// Days from the begin date up to the boundary, at most MaxArchive reads.
void WriteArchive(RunState& run) {
  Stage(run.options, "archive");
  File newArchive = File::Open(run.work.NewArchive, OpenMode::CreateTruncate);
  for (int64_t reads = 0; reads < run.options.MaxArchive && run.next < run.sourceRecords; ++reads) {
    run.sorted->ReadAt(run.next * kRecord, run.record.data(), run.record.size());
    const int64_t index = run.next++;
    double date = 0;
    std::memcpy(&date, run.record.data(), sizeof date);
    if (date <= run.lastWritten) continue;
    run.lastWritten = date;
    if (date < run.range.Begin) continue;
    if (date >= run.range.Boundary) {
      run.carried = index;
      break;
    }
    newArchive.Write(run.record.data(), run.record.size());
    ++run.result.ArchiveRecords;
  }
  newArchive.Flush();
  newArchive.Close();
}

// The carried record and the days after it up to the end date, at most MaxData reads.
void WriteDatafile(RunState& run) {
  Stage(run.options, "datafile");
  File newData = File::Open(run.work.NewData, OpenMode::CreateTruncate);
  int64_t maxData = run.options.MaxData;
  if (run.carried) {
    run.sorted->ReadAt(*run.carried * kRecord, run.record.data(), run.record.size());
    newData.Write(run.record.data(), run.record.size());
    ++run.result.DataRecords;
    --maxData;
  }
  for (int64_t reads = 0; reads < maxData && run.next < run.sourceRecords; ++reads) {
    run.sorted->ReadAt(run.next * kRecord, run.record.data(), run.record.size());
    ++run.next;
    double date = 0;
    std::memcpy(&date, run.record.data(), sizeof date);
    if (date <= run.lastWritten) continue;
    run.lastWritten = date;
    newData.Write(run.record.data(), run.record.size());
    ++run.result.DataRecords;
    if (date >= run.range.End) break;
  }
  newData.Flush();
  newData.Close();
}

// The archive goes first: should the second rename not happen, every day is still in the new
// archive or the old datafile.
void ReplaceFiles(RunState& run) {
  run.join->Close();
  run.sorted->Close();
  Stage(run.options, "replace");
  if (!platform::RenameFile(run.work.NewArchive, run.archivePath)) {
    throw platform::FileError("Cannot replace " + run.archivePath, errno);
  }
  if (!platform::RenameFile(run.work.NewData, run.options.DatafilePath)) {
    throw platform::FileError("Cannot replace " + run.options.DatafilePath, errno);
  }
  platform::SyncDirectoryOf(run.options.DatafilePath);
  run.work.RemoveWork();
}

RestructureResult Run(const RestructureOptions& options, const WorkFiles& work) {
  RunState run(options, work);
  JoinFiles(run);
  if (options.Backup) WriteBackup(run);
  SortRecords(run);
  WriteArchive(run);
  WriteDatafile(run);
  ReplaceFiles(run);
  return run.result;
}

}  // namespace

std::string ArchivePathFor(const std::string& datafilePath) {
  return platform::ChangeExtension(datafilePath, ".arc");
}

std::string BackupPathFor(const std::string& datafilePath, platform::TDateTime now) {
  return datafilePath + "_Copy_" + platform::FormatDateTime(now, "dd-mm-yy - h-nn-ss");
}

StructureInfo ReadStructure(const std::string& datafilePath) {
  StructureInfo info;
  if (std::optional<File> archive = OpenIfExists(ArchivePathFor(datafilePath))) {
    const int64_t size = archive->Size();
    info.ArchiveCount = size / kRecord;
    if (info.ArchiveCount > 0) info.EarliestDate = DateAt(*archive, 0);
    for (int64_t i = 0; i < info.ArchiveCount; ++i)
      info.Dates.push_back(DateAt(*archive, i * kRecord));
  }
  File data = File::Open(datafilePath, OpenMode::Read, true);
  const int64_t size = data.Size();
  if (size >= kRecord) {
    info.DataCount = size / kRecord;
    info.DataStartDate = DateAt(data, 0);
    info.LatestDate = DateAt(data, (info.DataCount - 1) * kRecord);
    for (int64_t i = 0; i < info.DataCount; ++i) info.Dates.push_back(DateAt(data, i * kRecord));
  }
  if (info.ArchiveCount == 0 || info.DataCount == 0) info.EarliestDate = info.DataStartDate;
  // Without datafile records the archive's last day is the latest, so that the range the
  // dialog offers by default drops nothing.
  if (info.DataCount == 0 && info.ArchiveCount > 0) info.LatestDate = info.Dates.back();
  return info;
}

int TrackLabelLeft(int position, int maximum, int trackWidth, int trackLeft) {
  if (maximum <= 0) return trackLeft - 20;
  return static_cast<int>(
      std::trunc(static_cast<double>(position) / maximum * trackWidth + trackLeft - 20));
}

BeginChoice BeginForPosition(const StructureInfo& info, int position, int maxArchive) {
  if (position < maxArchive) return {info.EarliestDate, false};
  const int64_t index = static_cast<int64_t>(position) - maxArchive;
  if (index < 0 || index >= static_cast<int64_t>(info.Dates.size()))
    return {info.EarliestDate, false};
  return {info.Dates[static_cast<size_t>(index)], true};
}

RestructureDates DatesForApply(const StructureInfo& info, int position, double begin, double end) {
  RestructureDates dates;
  dates.Begin = begin;
  dates.End = end;
  if (!info.Dates.empty()) {
    const size_t index =
        std::min<size_t>(static_cast<size_t>(std::max(position, 0)), info.Dates.size() - 1);
    dates.Boundary = info.Dates[index];
  }
  if (dates.Boundary < dates.Begin) dates.Boundary = dates.Begin;
  if (dates.Boundary >= dates.End) dates.Boundary = dates.End - 1;
  return dates;
}

RestructureResult Restructure(const RestructureOptions& options) {
  const WorkFiles work(options.DatafilePath);
  try {
    return Run(options, work);
  } catch (...) {
    work.RemoveAll();
    throw;
  }
}

}  // namespace qv::store
