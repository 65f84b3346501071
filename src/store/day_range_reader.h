#pragma once
// Reading a group's days from another thread than the event thread (the HTTP feed): the
// datafile is opened unshared exactly as the record store opens it, and only while the group's
// FileGate is held, for one short chunk of days at a time. The event thread therefore waits at
// most for one chunk's read when it edits a day meanwhile, and never meets the file's lock.
#include <cstdint>
#include <functional>

#include "store/group_datafile.h"
#include "wire/day_record.h"

namespace qv::store {

// Whole records read per hold of the gate (about 450 KB, well under a millisecond).
constexpr int kRangeChunkDays = 8;

struct DatafileSummary {
  int64_t Size = 0;        // bytes
  int64_t Records = 0;     // whole records
  double FirstDay = 0;     // day date of the first record; 0 without records
  double LastDay = 0;      // day date of the last whole record; 0 without records
  int64_t ModifiedNs = 0;  // modification time, nanoseconds since the Unix epoch
};

// Calls visit for every record whose day lies in [from, to] (day keys), in ascending order of
// days, each day at most once. Days between chunks may be edited: each chunk is consistent in
// itself and the days come from the file as it was when their chunk was read. A file that stays
// locked by another program for longer than a short while, or cannot be read, throws
// platform::FileError.
void ReadDayRange(GroupDatafile& group, double from, double to,
                  const std::function<void(ConstDayBytes)>& visit, int chunkDays = kRangeChunkDays);

// Size, first and last day and modification time of the datafile, read under the gate.
DatafileSummary ReadDatafileSummary(GroupDatafile& group);

}  // namespace qv::store
