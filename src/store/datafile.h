#pragma once
// The datafile of a group (day records in ascending date order, no header), its archive (the
// same format, extension ".arc") and its index, and their preparation at start-up.
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "store/file_layer.h"
#include "store/group_datafile.h"
#include "wire/day_record.h"
#include "wire/messages.h"

namespace qv::store {

// Index entries hold 32-bit offsets, so a datafile never grows past this many records.
constexpr int32_t kMaxDatafileRecords = INT32_MAX / wire::kDayRecordSize;
constexpr int kCorrectionHorizonDays = 700;      // gaps later than today + 700 are not filled
constexpr int64_t kInsertFirstRecordLimit = 60;  // a longer datafile takes no day in front

// Fills record as the blank day record of a group: empty texts and ids, the hour labels
// "HH.00" (" 9.00" for one digit) on the even slots from timeBegin on, step + 1 hours apart.
void BuildBlankRecord(wire::DayBytes record, int32_t timeBegin, int32_t timeEnd, int32_t step);

// The archive's name: the datafile name with the extension ".arc".
std::string ArchiveName(const std::string& datafileName);

// Fills missing days of the open datafile at path with copies of blank carrying their dates:
// the filled file is written beside it and replaces it (open it anew afterwards). A datafile
// whose dates are not ascending is left unchanged. Returns "" or the text to log after the alias
// and " -> ".
std::string CorrectDatafile(FileLayer& files, LayerFile& datafile, const std::string& path,
                            wire::ConstDayBytes blank, double today);

// Rebuilds index from the datafile; 1 when the day dates are not strictly ascending (or the
// first is 0 or earlier), else 0. By name, the file is opened unshared and a failure to open
// it throws.
int BuildIndex(platform::File& file, TmyDBIndex& index);
int BuildIndex(LayerFile& file, TmyDBIndex& index);
int BuildIndex(const std::string& fileName, TmyDBIndex& index);

// Start-up preparation of one datafile: removal of side files an interrupted run left, gap
// correction, rotation of days older than Count days before today into the archive (kept to its
// newest CountArc records), MayInsertFirst. Files are replaced through side files only.
// Failures after the datafile is open are logged (message 29); a datafile that cannot be
// opened throws.
void OpenGroupDatafile(GroupDatafile& group, wire::LogSink& log);
void OpenGroupDatafile(GroupDatafile& group, wire::LogSink& log, double today);

// The whole start-up sequence for a group whose BlankRecord is built: OpenGroupDatafile,
// message 74, BuildIndex (message 71 on an order fault), FirstDate. Nothing happens for a group
// without a datafile (NoDatafile is set). Failures throw; the caller logs message 8 and the
// alias.
void PrepareGroupDatafile(GroupDatafile& group, wire::LogSink& log);
void PrepareGroupDatafile(GroupDatafile& group, wire::LogSink& log, double today);

}  // namespace qv::store
