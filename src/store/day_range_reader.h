#pragma once
// Reading a group's days on another thread than the event thread (the HTTP feed) without ever
// making the event thread wait: the datafile is read with no lock at all, in chunks of a few
// days, and a chunk counts only when the group's WriteGeneration was even (no change under way)
// before it and unchanged after it; otherwise it is read again. The record store raises the
// generation around every change, so a reader never keeps a day half written or records half
// moved by an insertion, and never holds anything the record store needs.
#include <cstdint>
#include <functional>

#include "store/group_datafile.h"
#include "wire/day_record.h"

namespace qv::store {

// Whole records read at once (about 450 KB).
constexpr int kRangeChunkDays = 8;

struct DatafileSummary {
  int64_t Size = 0;        // bytes
  int64_t Records = 0;     // whole records
  double FirstDay = 0;     // day date of the first record; 0 without records
  double LastDay = 0;      // day date of the last whole record; 0 without records
  int64_t ModifiedNs = 0;  // modification time, nanoseconds since the Unix epoch
};

// Calls visit for every record whose day lies in [from, to] (day keys), in ascending order of
// days, each day at most once. Each chunk is consistent in itself; days edited between two
// chunks come as the file was when their chunk was read. A file that cannot be read, or that
// keeps changing under every attempt for longer than a short while, throws
// platform::FileError (or std::runtime_error).
void ReadDayRange(const GroupDatafile& group, double from, double to,
                  const std::function<void(wire::ConstDayBytes)>& visit,
                  int chunkDays = kRangeChunkDays);

// Size, first and last day and modification time of the datafile, read the same way.
DatafileSummary ReadDatafileSummary(const GroupDatafile& group);

}  // namespace qv::store
