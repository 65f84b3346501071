// Record store and start-up preparation on a warm datafile of 1100 days (three years).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/time.h"
#include "state/catalogue.h"
#include "state/log.h"
#include "store/datafile.h"
#include "store/file_layer.h"
#include "store/group_commit.h"
#include "store/journal.h"
#include "store/journal_apply.h"
#include "store/record_store.h"
#include "wire/request_fields.h"

namespace qv::store {
namespace {

constexpr double kFirstDay = 45000;
constexpr int kDays = 1100;

// A group whose datafile lives in its own temporary directory for one benchmark.
class BenchGroup {
 public:
  BenchGroup() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    group.Alias = "Bench";
    group.FileName = (dir_ / "bench.qdb").string();
    group.Count = kDays;
    group.CountArc = kDays;
    BuildBlankRecord(*group.BlankRecord, 8, 20, 0);
  }
  ~BenchGroup() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes one record per date (with some content) and indexes the file.
  void WriteDays(const std::vector<double>& dates) {
    std::ofstream out(group.FileName, std::ios::binary | std::ios::trunc);
    wire::DayRecord day = *group.BlankRecord;
    for (double date : dates) {
      wire::SetDayDate(day, date);
      wire::SetTitle(day, "Day title");
      wire::SetSlotText(day, 4, "Meeting with the whole group");
      out.write(reinterpret_cast<const char*>(day.data()), day.size());
    }
    if (!out) throw std::runtime_error("cannot write the datafile");
    out.close();
    BuildIndex(group.FileName, group.Index);
  }
  void WriteFullYears() {
    std::vector<double> dates;
    for (int i = 0; i < kDays; ++i) dates.push_back(kFirstDay + i);
    WriteDays(dates);
  }
  std::string SavedCopy() {
    const std::string copy = (dir_ / "saved.qdb").string();
    std::filesystem::copy_file(group.FileName, copy,
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
  }
  void Restore(const std::string& copy) {
    std::filesystem::copy_file(copy, group.FileName,
                               std::filesystem::copy_options::overwrite_existing);
  }

  GroupDatafile group;
  wire::RequestPackage notice{};  // the group's change notice
  state::Catalogue catalogue;
  std::recursive_mutex sessionLock;
  state::Log log{catalogue, sessionLock};

 private:
  std::filesystem::path dir_;
};

wire::RequestPackage TitleRequest(double date, const char* title = "Edited title") {
  wire::RequestPackage request{};
  wire::StoreField(request.data() + wire::request::kDateOffset, date);
  wire::WriteShortString(request.data(), wire::request::kText, title);
  return request;
}

void CheckQuietLog(benchmark::State& state, const state::Log& log) {
  if (!log.Pending().empty()) state.SkipWithError(log.Pending().c_str());
}

void BM_EditDayTitle(benchmark::State& state) {
  BenchGroup bench;
  bench.WriteFullYears();
  const double date = kFirstDay + static_cast<double>(state.range(0));
  // Two titles in turn: an edit that changes nothing writes nothing.
  const wire::RequestPackage requests[] = {TitleRequest(date), TitleRequest(date, "Other title")};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EditDay(bench.group, bench.log, wire::code::kEditTitle, 0,
                                     requests[i++ % 2].data(), bench.notice.data()));
  }
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_EditDayTitle)->ArgName("day")->Arg(kDays - 1)->Arg(kDays / 2);

// EditDay of a middle day without journal (0); with the journal, synced and written in place
// once per 16 edits as a busy group commit does (1); and synced and written in place after every
// edit, as an edit alone in its group commit is (2). The journal is emptied outside the timing.
void BM_EditDayJournal(benchmark::State& state) {
  BenchGroup bench;
  bench.WriteFullYears();
  const int mode = static_cast<int>(state.range(0));
  if (mode > 0) {
    bench.group.Journal =
        std::make_shared<DayJournal>(RealFiles(), JournalName(bench.group.FileName));
  }
  const double date = kFirstDay + kDays / 2;
  const wire::RequestPackage requests[] = {TitleRequest(date), TitleRequest(date, "Other title")};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EditDay(bench.group, bench.log, wire::code::kEditTitle, 0,
                                     requests[i++ % 2].data(), bench.notice.data()));
    if (mode == 2 || (mode == 1 && i % 16 == 0)) {
      bench.group.Journal->Sync();
      WriteDurableChanges(bench.group);
    }
    if (mode > 0 && bench.group.Journal->Size() > kCheckpointJournalBytes) {
      state.PauseTiming();
      FlushJournal(bench.group);
      state.ResumeTiming();
    }
  }
  bench.group.Journal.reset();
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_EditDayJournal)->ArgName("journal")->Arg(0)->Arg(1)->Arg(2);

void BM_ReadDays7(benchmark::State& state) {
  BenchGroup bench;
  bench.WriteFullYears();
  for (auto _ : state) {
    ReadDays(bench.group, bench.log, 7, kFirstDay + kDays / 2);
    benchmark::ClobberMemory();
  }
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_ReadDays7);

void BM_CopyDay(benchmark::State& state) {
  BenchGroup bench;
  bench.WriteFullYears();
  wire::RequestPackage copyRequest{};
  uint8_t* copy = copyRequest.data();
  wire::StoreField(copy + wire::request::kDateOffset, kFirstDay + kDays / 2 + 1);
  wire::StoreField(copy + wire::request::kSourceDateOffset, kFirstDay + kDays / 2);
  std::fill_n(copy + wire::request::kPartFlagsOffset, wire::request::kPartFlagCount, uint8_t{1});
  for (auto _ : state) benchmark::DoNotOptimize(CopyDay(bench.group, bench.log, copy));
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_CopyDay);

// Every record moves up by one; the datafile is put back outside the timing.
void BM_InsertBeforeFirst(benchmark::State& state) {
  BenchGroup bench;
  bench.WriteFullYears();
  bench.group.MayInsertFirst = true;
  const std::string saved = bench.SavedCopy();
  const wire::RequestPackage request = TitleRequest(kFirstDay - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EditDay(bench.group, bench.log, wire::code::kEditTitle, 0,
                                     request.data(), bench.notice.data()));
    state.PauseTiming();
    bench.Restore(saved);
    state.ResumeTiming();
  }
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_InsertBeforeFirst)->Unit(benchmark::kMillisecond);

// A datafile of state.range(0) MB whose last 64 records lie two days apart, so that each
// iteration inserts a new day in front of a few records near the end; with state.range(1) the
// group has a journal, synced on the group commit's thread as the server does, without it the
// files are not synced ([Options] SyncWrites=0). The time is the
// event thread's cost of the insertion; the counters add the week read of another day that
// follows it at once (while the sync runs) and the writing in place after the sync.
void BM_InsertNearEnd(benchmark::State& state) {
  constexpr int kSpread = 64;
  BenchGroup bench;
  const int64_t records = state.range(0) * 1000 * 1000 / wire::kDayRecordSize;
  const double first = wire::DayKey(platform::Today()) - static_cast<double>(records);
  std::vector<double> dates;
  for (int64_t i = 0; i < records - kSpread; ++i) dates.push_back(first + static_cast<double>(i));
  const double spreadFrom = first + static_cast<double>(records);
  for (int i = 0; i < kSpread; ++i) dates.push_back(spreadFrom + 2 * i);
  bench.WriteDays(dates);
  bench.group.Count = static_cast<int32_t>(records);

  std::mutex mutex;
  std::condition_variable changed;
  uint64_t synced = 0;
  std::unique_ptr<GroupCommit> commit;
  if (state.range(1) == 0) bench.group.Files = &RealFiles(false);
  if (state.range(1) != 0) {
    bench.group.Journal =
        std::make_shared<DayJournal>(RealFiles(), JournalName(bench.group.FileName));
    commit = std::make_unique<GroupCommit>([&](CommitReport report) {
      std::lock_guard lock(mutex);
      synced = std::max(synced, report.synced);
      changed.notify_all();
    });
  }
  using Clock = std::chrono::steady_clock;
  auto millis = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  double readTotal = 0, readMax = 0, inPlaceTotal = 0, insertMax = 0;
  int i = 0;
  for (auto _ : state) {
    const wire::RequestPackage request = TitleRequest(spreadFrom + 2 * (i++ % kSpread) + 1);
    const auto start = Clock::now();
    const StoreOutcome outcome = EditDay(bench.group, bench.log, wire::code::kEditTitle, 0,
                                         request.data(), bench.notice.data());
    uint64_t ticket = 0;
    if (commit && outcome.status == ChangeStatus::Journalled) {
      ticket = commit->Note(bench.group.Journal);
      commit->Kick();
    }
    const auto inserted = Clock::now();
    ReadDays(bench.group, bench.log, 7, first + static_cast<double>(records) / 2);
    const auto read = Clock::now();
    if (!outcome.Accepted()) state.SkipWithError(outcome.reason.c_str());
    state.SetIterationTime(std::chrono::duration<double>(inserted - start).count());
    insertMax = std::max(insertMax, millis(inserted - start));
    readTotal += millis(read - inserted);
    readMax = std::max(readMax, millis(read - inserted));
    if (ticket != 0) {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return synced >= ticket; });
      lock.unlock();
      const auto writeStart = Clock::now();
      WriteDurableChanges(bench.group);
      inPlaceTotal += millis(Clock::now() - writeStart);
    }
  }
  commit.reset();
  if (bench.group.Journal) FlushJournal(bench.group);
  bench.group.Journal.reset();
  const double n = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["insert_max_ms"] = insertMax;
  state.counters["read_ms"] = readTotal / n;
  state.counters["read_max_ms"] = readMax;
  state.counters["in_place_ms"] = inPlaceTotal / n;
  CheckQuietLog(state, bench.log);
}

// Registered only when QV_BENCH_LARGE_MB names a size (400 for the figures in the README): the
// default run stays short and writes no large file.
void RegisterLargeBenchmarks() {
  const char* megabytes = std::getenv("QV_BENCH_LARGE_MB");
  if (megabytes == nullptr) return;
  const int64_t size = std::max(std::atoll(megabytes), 2LL);
  benchmark::RegisterBenchmark("BM_InsertNearEnd", BM_InsertNearEnd)
      ->ArgNames({"MB", "journal"})
      ->Args({size, 0})
      ->Args({size, 1})
      ->Iterations(32)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

// 1000 stored days with 100 one-day holes, corrected to 1100 days; nothing to archive.
void BM_OpenGroupDatafile100Gaps(benchmark::State& state) {
  BenchGroup bench;
  std::vector<double> dates;
  for (int i = 0; i < kDays; ++i) {
    if (i % 11 != 5) dates.push_back(kFirstDay + i);
  }
  bench.WriteDays(dates);
  const std::string saved = bench.SavedCopy();
  const double today = kFirstDay + kDays - 1;
  for (auto _ : state) {
    OpenGroupDatafile(bench.group, bench.log, today);
    state.PauseTiming();
    if (std::filesystem::file_size(bench.group.FileName) !=
        static_cast<uintmax_t>(kDays) * wire::kDayRecordSize) {
      state.SkipWithError("the gaps were not filled");
    }
    bench.Restore(saved);
    state.ResumeTiming();
  }
  CheckQuietLog(state, bench.log);
}
BENCHMARK(BM_OpenGroupDatafile100Gaps)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv::store

int main(int argc, char** argv) {
  qv::store::RegisterLargeBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
