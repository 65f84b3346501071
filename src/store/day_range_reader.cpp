#include "store/day_range_reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;

constexpr int64_t kRecord = kDayRecordSize;
// Another holder of the file's lock (an outside program, the structure dialog) is waited for
// this many times this long, outside the gate, before the read gives up.
constexpr int kLockedRetries = 50;
constexpr auto kLockedPause = std::chrono::milliseconds(2);

double DateAt(File& file, int64_t record) {
  uint8_t bytes[sizeof(double)];
  file.ReadAt(record * kRecord, bytes, sizeof bytes);
  return LoadField<double>(bytes);
}

// Opens the datafile unshared with the gate held; retries while someone else holds the file's
// lock, letting the gate go while it waits.
File OpenLocked(GroupDatafile& group, std::unique_lock<std::mutex>& gate) {
  for (int attempt = 0;; ++attempt) {
    gate.lock();
    if (auto file = File::TryOpen(group.FileName, OpenMode::Read, true)) return std::move(*file);
    const int error = errno;
    gate.unlock();
    if (error != EWOULDBLOCK || attempt + 1 >= kLockedRetries) {
      File::Open(group.FileName, OpenMode::Read, true);  // throws with the reason
    }
    std::this_thread::sleep_for(kLockedPause);
  }
}

// First record in [begin, n) whose day is not before key, for records in ascending order.
int64_t LowerBound(File& file, int64_t begin, int64_t n, double key) {
  int64_t lo = begin, hi = n;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (DayKey(DateAt(file, mid)) < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

}  // namespace

void ReadDayRange(GroupDatafile& group, double from, double to,
                  const std::function<void(ConstDayBytes)>& visit, int chunkDays) {
  chunkDays = std::max(chunkDays, 1);
  std::vector<uint8_t> buffer(static_cast<size_t>(chunkDays) * kRecord);
  double next = DayKey(from);
  const double last = DayKey(to);
  int64_t searchFrom = 0;  // moves on only past records out of order
  while (next <= last) {
    int64_t count = 0;
    int64_t at = 0;
    {
      std::unique_lock gate(*group.FileGate, std::defer_lock);
      File file = OpenLocked(group, gate);
      const int64_t n = file.Size() / kRecord;
      at = LowerBound(file, std::min(searchFrom, n), n, next);
      count = std::min<int64_t>(chunkDays, n - at);
      if (count > 0) file.ReadAt(at * kRecord, buffer.data(), static_cast<size_t>(count * kRecord));
      file.Close();
    }
    if (count <= 0) return;
    bool progress = false;
    for (int64_t i = 0; i < count; ++i) {
      const ConstDayBytes day(buffer.data() + i * kRecord, kDayRecordSize);
      const double key = DayKey(DayDate(day));
      if (!(key >= next)) continue;  // out of order (or NaN): already passed
      if (key > last) return;
      visit(day);
      next = key + 1;
      progress = true;
    }
    // In a file in order the search finds the next day again from the start, wherever
    // insertions moved it; records out of order are stepped over by position.
    searchFrom = progress ? 0 : at + count;
  }
}

DatafileSummary ReadDatafileSummary(GroupDatafile& group) {
  DatafileSummary summary;
  std::unique_lock gate(*group.FileGate, std::defer_lock);
  File file = OpenLocked(group, gate);
  summary.Size = file.Size();
  summary.Records = summary.Size / kRecord;
  if (summary.Records > 0) {
    summary.FirstDay = DateAt(file, 0);
    summary.LastDay = DateAt(file, summary.Records - 1);
  }
  summary.ModifiedNs = file.ModifiedNs();
  file.Close();
  return summary;
}

}  // namespace qv::store
