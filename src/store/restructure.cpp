#include "store/restructure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>

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

// The sorted, duplicate-free entries of the joined records, and whether the records were out of
// order (an entry read from before the previous one's place).
struct SortedSource {
  std::vector<Entry> Entries;
  bool SequenceFault = false;
};

SortedSource SortSource(const std::vector<double>& dates, size_t archiveRecords) {
  SortedSource source;
  source.Entries = SortedUniqueEntries(dates, archiveRecords);
  int64_t readPosition = 0;
  for (const Entry& entry : source.Entries) {
    if (entry.Offset < readPosition) source.SequenceFault = true;
    readPosition = entry.Offset + kRecord;
  }
  return source;
}

// A run that finds the records out of order only sorts them: its range covers every real day.
RestructureDates EffectiveRange(RestructureDates range, bool sequenceFault) {
  if (sequenceFault) {
    range.Begin = kSequenceOnlyBeginDate;
    range.End += kSequenceOnlyEndExtension;
  }
  return range;
}

// Which entries of the sorted source go to the new archive and to the new datafile.
// Archive pass: days from the begin date up to the boundary, at most maxArchive reads; the
// entry that ends it is carried over to the datafile. Datafile pass: the days after it up to
// (and including the first on or after) the end date, at most maxData reads.
struct Selection {
  std::vector<size_t> Archive;
  std::vector<size_t> Data;
};

Selection SelectEntries(const std::vector<Entry>& sorted, const RestructureDates& range,
                        int64_t maxArchive, int64_t maxData) {
  Selection selection;
  size_t next = 0;
  double lastWritten = range.Begin - 2;
  for (int64_t reads = 0; reads < maxArchive && next < sorted.size(); ++reads) {
    const size_t index = next++;
    const double date = sorted[index].Date;
    if (date <= lastWritten) continue;
    lastWritten = date;
    if (date < range.Begin) continue;
    if (date >= range.Boundary) {
      selection.Data.push_back(index);
      --maxData;
      break;
    }
    selection.Archive.push_back(index);
  }
  for (int64_t reads = 0; reads < maxData && next < sorted.size(); ++reads) {
    const size_t index = next++;
    const double date = sorted[index].Date;
    if (date <= lastWritten) continue;
    lastWritten = date;
    selection.Data.push_back(index);
    if (date >= range.End) break;
  }
  return selection;
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

// Creates the backup file under its name without seconds, or with seconds, or with seconds and
// " (2)", " (3)", ... when taken; path receives the name used.
File CreateBackup(const std::string& datafilePath, platform::TDateTime now, std::string& path) {
  const std::string withSeconds = BackupPathWithSecondsFor(datafilePath, now);
  for (int n = 0; n <= kMaxBackupsPerSecond; ++n) {
    if (n == 0) {
      path = BackupPathFor(datafilePath, now);
    } else {
      path = n == 1 ? withSeconds : withSeconds + " (" + std::to_string(n) + ")";
    }
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
  int64_t archiveRecords = 0;  // whole records of the old archive, first in the join file
  Selection selection;         // indices into the sorted file
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
  File backup = CreateBackup(run.options.DatafilePath, now, run.result.BackupPath);
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
  const SortedSource source = SortSource(dates, static_cast<size_t>(run.archiveRecords));
  run.result.SequenceFault = source.SequenceFault;

  run.sorted.emplace(File::Open(run.work.Sorted, OpenMode::CreateTruncate));
  for (const Entry& entry : source.Entries) {
    join.ReadAt(entry.Offset, run.record.data(), run.record.size());
    run.sorted->Write(run.record.data(), run.record.size());
  }
  run.selection =
      SelectEntries(source.Entries, EffectiveRange(run.options.Dates, source.SequenceFault),
                    run.options.MaxArchive, run.options.MaxData);
}

// Copies the chosen records of the sorted file into a new file at path.
int64_t WriteSelected(RunState& run, const std::vector<size_t>& indices, const std::string& path) {
  File out = File::Open(path, OpenMode::CreateTruncate);
  for (const size_t index : indices) {
    run.sorted->ReadAt(static_cast<int64_t>(index) * kRecord, run.record.data(), run.record.size());
    out.Write(run.record.data(), run.record.size());
  }
  out.Flush();
  out.Close();
  return static_cast<int64_t>(indices.size());
}

void WriteArchive(RunState& run) {
  Stage(run.options, "archive");
  run.result.ArchiveRecords = WriteSelected(run, run.selection.Archive, run.work.NewArchive);
}

void WriteDatafile(RunState& run) {
  Stage(run.options, "datafile");
  run.result.DataRecords = WriteSelected(run, run.selection.Data, run.work.NewData);
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
  // The new archive's name is durable before the datafile loses the days it took over: a power
  // cut between the renames must not find the old archive beside the new datafile.
  platform::SyncDirectoryOf(run.archivePath);
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
  return datafilePath + "_Copy_" + platform::FormatDateTime(now, "dd-mm-yy - h-nn");
}

std::string BackupPathWithSecondsFor(const std::string& datafilePath, platform::TDateTime now) {
  return datafilePath + "_Copy_" + platform::FormatDateTime(now, "dd-mm-yy - h-nn-ss");
}

bool RangeIsValid(const RestructureDates& dates) {
  return std::isfinite(dates.Begin) && std::isfinite(dates.End) && dates.Begin <= dates.End;
}

RestructurePlan PlanRestructure(const StructureInfo& info, const RestructureDates& dates,
                                int32_t maxArchive, int32_t maxData) {
  const auto archiveRecords = static_cast<size_t>(std::max<int64_t>(info.ArchiveCount, 0));
  const SortedSource source = SortSource(info.Dates, archiveRecords);
  const Selection selection = SelectEntries(
      source.Entries, EffectiveRange(dates, source.SequenceFault), maxArchive, maxData);
  RestructurePlan plan;
  plan.SequenceFault = source.SequenceFault;
  plan.ArchiveRecords = static_cast<int64_t>(selection.Archive.size());
  plan.DataRecords = static_cast<int64_t>(selection.Data.size());
  // Entries are unique by date, so a kept entry keeps every record of its day.
  std::set<double> kept;
  for (const auto* part : {&selection.Archive, &selection.Data}) {
    for (const size_t index : *part) kept.insert(SortKey(source.Entries[index].Date));
  }
  std::set<double> archiveLeaving, dataLeaving;
  for (size_t i = 0; i < info.Dates.size(); ++i) {
    const double key = SortKey(info.Dates[i]);
    if (kept.count(key) != 0) continue;
    (i < archiveRecords ? archiveLeaving : dataLeaving).insert(key);
  }
  plan.ArchiveDaysLeaving = static_cast<int64_t>(archiveLeaving.size());
  plan.DataDaysLeaving = static_cast<int64_t>(dataLeaving.size());
  return plan;
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
  if (!RangeIsValid(options.Dates)) {
    throw std::invalid_argument("the first day to keep is after the last day to keep");
  }
  const WorkFiles work(options.DatafilePath);
  try {
    return Run(options, work);
  } catch (...) {
    work.RemoveAll();
    throw;
  }
}

}  // namespace qv::store
