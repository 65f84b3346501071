#include "store/day_range_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace qv::store {
namespace {

using platform::File;
using platform::OpenMode;

constexpr int64_t kRecord = wire::kDayRecordSize;
// A chunk that overlapped a change is read again after a short pause; an edit takes well under
// a millisecond, so this many attempts only run out when the file changes without a pause.
constexpr int kAttempts = 2000;
constexpr auto kRetryPause = std::chrono::microseconds(100);

double DateAt(File& file, int64_t record) {
  uint8_t bytes[sizeof(double)];
  file.ReadAt(record * kRecord, bytes, sizeof bytes);
  return wire::LoadField<double>(bytes);
}

// First record in [begin, n) whose day is not before key, for records in ascending order.
int64_t LowerBound(File& file, int64_t begin, int64_t n, double key) {
  int64_t lo = begin, hi = n;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (wire::DayKey(DateAt(file, mid)) < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Runs read until it ran while no change of the datafile was under way or completed; a read
// that throws because a change moved things under it (a short read at the end) is retried too.
template <class Read>
void ReadConsistently(const GroupDatafile& group, Read read) {
  const std::atomic<uint64_t>& generation = *group.WriteGeneration;
  for (int attempt = 0;; ++attempt) {
    const uint64_t before = generation.load();
    bool done = false;
    if (before % 2 == 0) {
      try {
        read();
        done = generation.load() == before;
      } catch (const platform::FileError&) {
        if (generation.load() == before || attempt + 1 >= kAttempts) throw;
      }
    }
    if (done) return;
    if (attempt + 1 >= kAttempts) throw std::runtime_error("datafile keeps changing");
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace

void ReadDayRange(const GroupDatafile& group, double from, double to,
                  const std::function<void(wire::ConstDayBytes)>& visit, int chunkDays) {
  chunkDays = std::max(chunkDays, 1);
  std::vector<uint8_t> buffer(static_cast<size_t>(chunkDays) * kRecord);
  // Shared and without the exclusive lock: the record store's operations open it unshared.
  File file = File::Open(group.FileName, OpenMode::Read, false);
  double next = wire::DayKey(from);
  const double last = wire::DayKey(to);
  int64_t searchFrom = 0;  // moves on only past records out of order
  while (next <= last) {
    int64_t count = 0;
    int64_t at = 0;
    ReadConsistently(group, [&] {
      const int64_t n = file.Size() / kRecord;
      at = LowerBound(file, std::min(searchFrom, n), n, next);
      count = std::min<int64_t>(chunkDays, n - at);
      if (count > 0) {
        file.ReadAt(at * kRecord, buffer.data(), static_cast<size_t>(count * kRecord));
      }
    });
    if (count <= 0) return;
    bool progress = false;
    for (int64_t i = 0; i < count; ++i) {
      const wire::ConstDayBytes day(buffer.data() + i * kRecord, wire::kDayRecordSize);
      const double key = wire::DayKey(wire::DayDate(day));
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

DatafileSummary ReadDatafileSummary(const GroupDatafile& group) {
  DatafileSummary summary;
  File file = File::Open(group.FileName, OpenMode::Read, false);
  ReadConsistently(group, [&] {
    summary = DatafileSummary();
    summary.Size = file.Size();
    summary.Records = summary.Size / kRecord;
    if (summary.Records > 0) {
      summary.FirstDay = DateAt(file, 0);
      summary.LastDay = DateAt(file, summary.Records - 1);
    }
    summary.ModifiedNs = file.ModifiedNs();
  });
  return summary;
}

}  // namespace qv::store
