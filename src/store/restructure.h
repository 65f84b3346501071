#pragma once
// Rebuilding a group's datafile and archive file (the DB Structure dialog): both files joined,
// the days sorted with duplicates reduced to one (the datafile's copy wins over the archive's,
// and within a file the first copy wins), days outside the chosen
// range dropped, the oldest days written to the archive and the rest to the datafile.
//
// The new archive and datafile are written beside the old ones and put in their place by
// rename only when both are complete, so a failure at any step leaves the old files as they
// were. Also the track-bar arithmetic the dialog shows.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/time.h"
#include "store/datafile.h"

namespace qv::store {

// A run that finds the files out of order only sorts them: its range covers every real day.
constexpr double kSequenceOnlyBeginDate = 10.0;
constexpr double kSequenceOnlyEndExtension = 20000.0;

// What the dialog shows when it opens.
struct StructureInfo {
  int64_t ArchiveCount = 0;
  int64_t DataCount = 0;
  double EarliestDate = 0;    // first archive day, or first datafile day without an archive
  double LatestDate = 0;      // last datafile day
  double DataStartDate = 0;   // first datafile day
  std::vector<double> Dates;  // every record's day, archive records first
  int64_t Total() const { return ArchiveCount + DataCount; }
};

// Reads the day dates of the datafile and its archive. Throws platform::FileError.
StructureInfo ReadStructure(const std::string& datafilePath);

std::string ArchivePathFor(const std::string& datafilePath);
// datafile name + "_Copy_" + "dd-mm-yy - h-nn" of `now`. When a file of that name exists, the
// seconds are added ("dd-mm-yy - h-nn-ss"), and then " (2)", " (3)", ...
std::string BackupPathFor(const std::string& datafilePath, platform::TDateTime now);
std::string BackupPathWithSecondsFor(const std::string& datafilePath, platform::TDateTime now);

// Left edge of the date label that follows the track bar thumb.
int TrackLabelLeft(int position, int maximum, int trackWidth, int trackLeft);

// Begin date for a track bar position: below maxArchive nothing is dropped; from there on the
// oldest records go so that the archive keeps at most maxArchive.
struct BeginChoice {
  double BeginDate = 0;
  bool DropsOldest = false;
};
BeginChoice BeginForPosition(const StructureInfo& info, int position, int maxArchive);

// The dates Apply runs with: the boundary is the day at the track bar position, kept within
// [begin, end - 1].
struct RestructureDates {
  double Boundary = 0;
  double Begin = 0;
  double End = 0;
};
RestructureDates DatesForApply(const StructureInfo& info, int position, double begin, double end);

// A begin date after the end date (or a date that is not a number) would empty both files.
bool RangeIsValid(const RestructureDates& dates);

// What a run with these dates would leave, worked out on the dates alone (nothing is written):
// the records each new file would hold and the days (distinct dates) of each old file that
// would be in neither new file.
struct RestructurePlan {
  int64_t ArchiveRecords = 0;
  int64_t DataRecords = 0;
  int64_t DataDaysLeaving = 0;
  int64_t ArchiveDaysLeaving = 0;
  bool SequenceFault = false;  // the run would only sort
};
RestructurePlan PlanRestructure(const StructureInfo& info, const RestructureDates& dates,
                                int32_t maxArchive, int32_t maxData);

struct RestructureOptions {
  std::string DatafilePath;
  int32_t MaxArchive = 0;
  int32_t MaxData = kMaxDatafileRecords;
  RestructureDates Dates;
  bool Backup = true;
  platform::TDateTime Now = 0;  // names the backup copy; 0: the time the backup is made
  // Called as each stage begins ("join", "backup", "sort", "archive", "datafile", "replace");
  // an exception thrown from it aborts the run like a failing file step.
  std::function<void(const char* stage)> OnStage;
};

struct RestructureResult {
  bool SequenceFault = false;  // the files were out of order: this run only sorted them
  int64_t ArchiveRecords = 0;
  int64_t DataRecords = 0;
  std::string BackupPath;  // empty without a backup
  // "The correction of sequence of records is made only. You need repeat Restructure."
  bool ShowSequenceWarning() const { return SequenceFault && DataRecords > 1; }
};

// Throws platform::FileError (or what OnStage throws), std::invalid_argument for a range that is
// not valid (RangeIsValid); the datafile and archive file are then unchanged and the work files
// removed.
RestructureResult Restructure(const RestructureOptions& options);

}  // namespace qv::store
