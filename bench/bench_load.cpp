// Load benchmark: the real daemon, one group of users on loopback addresses 127.0.0.2, …, each
// user editing day titles and slots of the next 30 days for a fixed time while the others
// receive the forwarded copies; then week reads. Prints a table of throughput, latencies and
// the server's CPU time and resident memory.
//
//   bench_load [--seconds N] [--users N] [--window N] [--reads N] [--sync 0|1] [--feed 1]
//              [--feed-pause MS] [--idle N] [--slow 0|1]
//
// --idle N adds N sessions in a second group that only stay on line; --slow 1 adds a member of
// the edited group whose client never reads (a slow reader). The table gives the most threads
// the server process had while the run lasted.
//
// --sync is the server's [Options] SyncWrites: 1 (the default) acknowledges an edit once its
// journal entry is synced, 0 runs without journal and syncs.
//
// The group's datafile starts with 400 days of data (a title and three slots each, from 35 days
// before today on). With --feed 1 the whole run is made twice in one go: first without the HTTP
// listener, then with it and a client on 127.0.0.1 fetching the group's .ics in a loop (a pause
// of --feed-pause ms between fetches, default 100) for the whole time; both tables are printed,
// the second with the fetch latencies.
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/client.h"
#include "platform/files.h"
#include "platform/time.h"
#include "store/datafile.h"
#include "support/daemon_process.h"
#include "support/http_get.h"
#include "support/test_server.h"
#include "wire/packages.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qv::client::Bytes;
namespace pkg = qv::wire;

constexpr int kDaysEdited = 30;

struct Settings {
  int seconds = 5;
  int users = 10;
  int window = 1;   // edits a user has on the way at once (1: each waits for its ack)
  int reads = 200;  // week reads per user
  int sync = 1;     // [Options] SyncWrites of the server
  bool feed = false;
  int feedPauseMs = 100;
  int idle = 0;       // extra sessions in a second group that only stay on line
  bool slow = false;  // one more member of the edited group that never reads
};

constexpr int kDaysOfData = 400;
constexpr int kPastDaysOfData = 35;

// 400 consecutive days with a title and three slots each, in the datafile format.
void WriteDaysOfData(const std::string& path) {
  std::string bytes;
  qv::wire::DayRecord day{};
  const double first = qv::platform::Today() - kPastDaysOfData;
  for (int d = 0; d < kDaysOfData; ++d) {
    qv::store::BuildBlankRecord(day, 9, 20, 0);
    qv::wire::SetDayDate(day, first + d);
    qv::wire::SetTitle(day, "Day " + std::to_string(d) + " of the plan");
    qv::wire::SetSlotText(day, 0, "Standup");
    qv::wire::SetSlotText(day, 4, "Review of item " + std::to_string(d));
    qv::wire::SetSlotText(day, 9, "Call");
    bytes.append(reinterpret_cast<const char*>(day.data()), day.size());
  }
  qv::test::WriteFile(path, bytes);
}

struct Forward {
  int sender;
  int sequence;
  Clock::time_point at;
};

struct UserResult {
  std::vector<Clock::time_point> sent;  // by sequence
  std::vector<double> ackMs;            // by sequence
  std::vector<Forward> forwards;        // copies of the others' edits received
  std::vector<double> readMs;
  bool failed = false;
  std::string error;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
  return values[index];
}

std::string Host(int user) {
  return "127.0.0." + std::to_string(user + 2);
}

std::string IdleHost(int index) {
  return "127.0." + std::to_string(1 + index / 200) + "." + std::to_string(index % 200 + 2);
}

const std::string kSlowHost = "127.0.3.2";

// The Threads line of /proc/<pid>/status; 0 when it cannot be read.
long ServerThreads(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stol(line.substr(8));
  }
  return 0;
}

Bytes EditRequest(int user, int sequence, double day) {
  Bytes p(pkg::request::kSize, 0);
  const bool slot = sequence % 2 == 1;
  pkg::SetCodes(p.data(), slot ? 4 : 2, slot ? sequence % 70 : 0);
  pkg::SetDoubleAt(p.data(), pkg::request::kDateOffset, day);
  // The tag that the forwarded copy brings back (a slot id the store ignores: flag 0).
  pkg::SetInt32At(p.data(), pkg::request::kSlotIdOffset, (user << 24) | sequence);
  qv::wire::WriteShortString(p.data(), pkg::request::kSlotTime, "10.00");
  qv::wire::WriteShortString(p.data(), pkg::request::kText,
                             "edit " + std::to_string(user) + "/" + std::to_string(sequence));
  return p;
}

Bytes WeekRequest(double day) {
  Bytes p(pkg::request::kSize, 0);
  pkg::SetCodes(p.data(), pkg::code::kRequest, pkg::subcode::kDays);
  pkg::SetDoubleAt(p.data(), pkg::request::kDateOffset, day);
  qv::wire::StoreField<uint16_t>(p.data() + pkg::request::kDaysOffset, 7);
  return p;
}

// The server's CPU seconds (user + system) and peak resident memory in MiB.
void ServerUsage(pid_t pid, double& cpuSeconds, double& peakMiB) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  peakMiB = 0;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) peakMiB = std::stod(line.substr(6)) / 1024.0;
  }
}

void EditLoop(qv::client::Client& c, int user, const Settings& s, double firstDay,
              Clock::time_point end, UserResult& r) {
  int sequence = 0;
  size_t acked = 0;
  while (true) {
    const bool sending = Clock::now() < end;
    while (sending && static_cast<int>(r.sent.size() - acked) < s.window) {
      r.sent.push_back(Clock::now());
      if (!c.SendFrame(EditRequest(user, sequence, firstDay + sequence % kDaysEdited))) {
        r.failed = true;
        r.error = "send: " + c.Error();
        return;
      }
      ++sequence;
    }
    if (acked == r.sent.size()) return;
    auto frame = c.ReceiveFrame(10s);
    if (!frame) {
      r.failed = true;
      r.error = "no acknowledgment";
      return;
    }
    const auto now = Clock::now();
    const int32_t code = qv::client::Int32At(*frame, 0);
    if (code == pkg::code::kAcknowledgment) {
      r.ackMs.push_back(Ms(now - r.sent[acked]));
      ++acked;
    } else if ((code == 2 || code == 4) && frame->size() == 2351) {
      const int32_t tag = qv::client::Int32At(*frame, pkg::request::kSlotIdOffset);
      r.forwards.push_back(Forward{tag >> 24, tag & 0xFFFFFF, now});
    } else if (code == pkg::code::kRefusal) {
      r.failed = true;
      r.error = "edit refused";
      return;
    }
  }
}

// Reads what is still on the way to a user until it has been quiet for a while.
void DrainForwards(qv::client::Client& c, UserResult& r) {
  while (auto frame = c.ReceiveFrame(300ms)) {
    const int32_t code = qv::client::Int32At(*frame, 0);
    if ((code == 2 || code == 4) && frame->size() == 2351) {
      const int32_t tag = qv::client::Int32At(*frame, pkg::request::kSlotIdOffset);
      r.forwards.push_back(Forward{tag >> 24, tag & 0xFFFFFF, Clock::now()});
    }
  }
}

void ReadLoop(qv::client::Client& c, const Settings& s, double firstDay, UserResult& r) {
  for (int i = 0; i < s.reads; ++i) {
    const auto start = Clock::now();
    if (!c.SendFrame(WeekRequest(firstDay + i % (kDaysEdited - 6)))) {
      r.failed = true;
      r.error = "send: " + c.Error();
      return;
    }
    auto week = c.ReceiveFrameWithCode(pkg::code::kReply, 10s);
    if (!week || week->size() != static_cast<size_t>(pkg::days_reply::kWeekReplySize)) {
      r.failed = true;
      r.error = "no week";
      return;
    }
    r.readMs.push_back(Ms(Clock::now() - start));
  }
}

// CPU seconds (user + system) of this process: the clients' share of the work.
double OwnCpuSeconds() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int RunLoad(const Settings& s, bool feed) {
  qv::test::TempDir dir;
  qv::test::IniConfig config;
  config.port = qv::test::FreePortPair();
  config.checkIntervalMs = 0;
  config.groups = {{}};
  for (int u = 0; u < s.users; ++u) {
    config.groups[0].push_back(Host(u) + "::user" + std::to_string(u));
  }
  if (s.slow) config.groups[0].push_back(kSlowHost + "::slow");
  if (s.idle > 0) config.groups.emplace_back();
  for (int i = 0; i < s.idle; ++i) {
    config.groups[1].push_back(IdleHost(i) + "::idle" + std::to_string(i));
  }
  std::string ini = qv::test::IniText(config);
  const std::string datafile = dir.Path() + "/group.qdb";
  ini.replace(ini.find("Name=\r\n"), 7, "Name=" + datafile + "\r\n");
  ini.replace(ini.find("[Options]\r\n"), 11,
              "[Options]\r\nSyncWrites=" + std::to_string(s.sync) + "\r\n");
  ini.replace(ini.find("Count=7\r\n"), 9, "Count=40\r\n");  // no day of data is archived
  const int feedPort = qv::test::FreePortPair();
  if (feed) ini += "[Feed]\r\nPort=" + std::to_string(feedPort) + "\r\n";
  qv::test::WriteFile(dir.Path() + "/Server.ini", ini);
  WriteDaysOfData(datafile);

  std::unique_ptr<qv::test::DaemonProcess> daemon;
  for (int attempt = 0; attempt < 120 && !daemon; ++attempt) {
    daemon = std::make_unique<qv::test::DaemonProcess>(QV_SERVERD_PATH, dir.Path());
    if (!daemon->WaitForOutput("Initialization -> Ok!", 3s)) {
      daemon.reset();  // another server runs on this machine: wait for it to end
      std::this_thread::sleep_for(500ms);
    }
  }
  if (!daemon) {
    std::cerr << "bench_load: the server did not start\n";
    return 1;
  }

  std::vector<std::unique_ptr<qv::client::Client>> clients;
  for (int u = 0; u < s.users; ++u) {
    qv::client::ClientOptions options;
    options.localAddress = Host(u);
    options.port = config.port;
    clients.push_back(std::make_unique<qv::client::Client>(options));
    if (!clients.back()->Login(5s)) {
      std::cerr << "bench_load: user " << u << " got no session: " << clients.back()->Error()
                << "\n";
      return 1;
    }
  }
  std::vector<std::unique_ptr<qv::client::Client>> onLine;  // idle sessions and the slow reader
  for (int i = 0; i < s.idle + (s.slow ? 1 : 0); ++i) {
    qv::client::ClientOptions options;
    options.localAddress = i < s.idle ? IdleHost(i) : kSlowHost;
    options.port = config.port;
    if (i == s.idle) options.receiveBufferBytes = 4096;
    onLine.push_back(std::make_unique<qv::client::Client>(options));
    if (!onLine.back()->Login(10s)) {
      std::cerr << "bench_load: " << options.localAddress
                << " got no session: " << onLine.back()->Error() << "\n";
      return 1;
    }
  }
  const long threadsBefore = ServerThreads(daemon->Pid());
  // The days to edit exist before the measurement (created in date order, so nothing moves).
  const double firstDay = qv::platform::Today() + 1;
  for (int d = 0; d < kDaysEdited; ++d) {
    clients[0]->SendFrame(EditRequest(0, 0xFFFFFF, firstDay + d));
    if (!clients[0]->ReceiveFrameWithCode(pkg::code::kAcknowledgment, 5s)) {
      std::cerr << "bench_load: day " << d << " was not created\n";
      return 1;
    }
  }
  for (auto& c : clients) {
    while (c->ReceiveFrame(100ms)) {
    }
  }

  double cpuBefore = 0, cpuAfterEdits = 0, cpuAfter = 0, peak = 0;
  ServerUsage(daemon->Pid(), cpuBefore, peak);
  // The calendar client: fetches the group's feed until the run ends.
  std::atomic<bool> stopFetching{false};
  std::vector<double> fetchMs;
  size_t fetchFailures = 0, feedEvents = 0;
  std::thread fetcher;
  if (feed) {
    fetcher = std::thread([&] {
      while (!stopFetching) {
        const auto began = Clock::now();
        const auto r = qv::test::HttpGet("127.0.0.1", feedPort, "/groups/Group%201.ics");
        const auto took = Ms(Clock::now() - began);
        if (!r || r->status != 200) {
          ++fetchFailures;
        } else {
          fetchMs.push_back(took);
          size_t n = 0;
          for (size_t at = r->body.find("BEGIN:VEVENT"); at != std::string::npos;
               at = r->body.find("BEGIN:VEVENT", at + 1)) {
            ++n;
          }
          feedEvents = n;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(s.feedPauseMs));
      }
    });
  }

  // The journal files on disk, looked at every 50 ms while the run lasts: they must stay small.
  std::atomic<int64_t> journalPeak{0};
  std::atomic<long> threadsPeak{0};
  std::thread journalWatch([&] {
    while (!stopFetching) {
      threadsPeak = std::max(threadsPeak.load(), ServerThreads(daemon->Pid()));
      const int64_t bytes = std::max<int64_t>(qv::platform::FileSize(datafile + ".jnl"), 0) +
                            std::max<int64_t>(qv::platform::FileSize(datafile + ".jn2"), 0);
      journalPeak = std::max(journalPeak.load(), bytes);
      std::this_thread::sleep_for(50ms);
    }
  });

  std::vector<UserResult> results(static_cast<size_t>(s.users));
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(s.seconds);
  {
    std::vector<std::thread> threads;
    for (int u = 0; u < s.users; ++u) {
      threads.emplace_back([&, u] {
        EditLoop(*clients[static_cast<size_t>(u)], u, s, firstDay, end,
                 results[static_cast<size_t>(u)]);
        DrainForwards(*clients[static_cast<size_t>(u)], results[static_cast<size_t>(u)]);
      });
    }
    for (auto& t : threads) t.join();
  }
  const double editSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  ServerUsage(daemon->Pid(), cpuAfterEdits, peak);
  const double clientCpuBeforeReads = OwnCpuSeconds();
  const auto readStart = Clock::now();
  {
    std::vector<std::thread> threads;
    for (int u = 0; u < s.users; ++u) {
      threads.emplace_back([&, u] {
        ReadLoop(*clients[static_cast<size_t>(u)], s, firstDay, results[static_cast<size_t>(u)]);
      });
    }
    for (auto& t : threads) t.join();
  }
  const double readSeconds = std::chrono::duration<double>(Clock::now() - readStart).count();
  const double clientReadCpu = OwnCpuSeconds() - clientCpuBeforeReads;
  ServerUsage(daemon->Pid(), cpuAfter, peak);
  stopFetching = true;
  if (fetcher.joinable()) fetcher.join();
  journalWatch.join();

  // The feed alone: fetched back to back while one user changes a title every 100 ms, so that
  // every fetch builds the calendar anew (a changed datafile is never served from the cache).
  std::vector<double> quietMs;
  if (feed) {
    std::atomic<bool> quietDone{false};
    std::thread editor([&] {
      for (int i = 0; i < 30; ++i) {
        clients[0]->SendFrame(EditRequest(0, 0xFFFFFF, firstDay + i % kDaysEdited));
        clients[0]->ReceiveFrameWithCode(pkg::code::kAcknowledgment, 5s);
        std::this_thread::sleep_for(100ms);
      }
      quietDone = true;
    });
    while (!quietDone) {
      const auto began = Clock::now();
      const auto r = qv::test::HttpGet("127.0.0.1", feedPort, "/groups/Group%201.ics");
      if (r && r->status == 200) quietMs.push_back(Ms(Clock::now() - began));
    }
    editor.join();
  }

  std::vector<double> ack, forward, read;
  size_t edits = 0, incomplete = 0;
  std::map<std::pair<int, int>, std::pair<int, Clock::time_point>> copies;
  for (const UserResult& r : results) {
    if (r.failed) std::cerr << "bench_load: a user failed: " << r.error << "\n";
    edits += r.ackMs.size();
    ack.insert(ack.end(), r.ackMs.begin(), r.ackMs.end());
    read.insert(read.end(), r.readMs.begin(), r.readMs.end());
    for (const Forward& f : r.forwards) {
      auto& entry = copies[{f.sender, f.sequence}];
      ++entry.first;
      entry.second = std::max(entry.second, f.at);
    }
  }
  for (int u = 0; u < s.users; ++u) {
    const UserResult& r = results[static_cast<size_t>(u)];
    for (size_t q = 0; q < r.ackMs.size(); ++q) {
      const auto it = copies.find({u, static_cast<int>(q)});
      if (it == copies.end() || it->second.first != s.users - 1) {
        ++incomplete;
        continue;
      }
      forward.push_back(Ms(it->second.second - r.sent[q]));
    }
  }

  std::printf(
      "Load: %d users of one group, %d s of edits (window %d), %d week reads per user, "
      "SyncWrites=%d, %s\n\n",
      s.users, s.seconds, s.window, s.reads, s.sync,
      feed ? "HTTP feed on, .ics fetched in a loop" : "HTTP feed off");
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| edits acknowledged per second | %.0f |\n", edits / editSeconds);
  std::printf("| acknowledgment latency p50 / p99 | %.2f ms / %.2f ms |\n", Percentile(ack, 0.50),
              Percentile(ack, 0.99));
  std::printf("| forward latency to the last other member p50 / p99 | %.2f ms / %.2f ms |\n",
              Percentile(forward, 0.50), Percentile(forward, 0.99));
  std::printf("| week read (1000/3, 7 days) latency p50 / p99 | %.2f ms / %.2f ms |\n",
              Percentile(read, 0.50), Percentile(read, 0.99));
  std::printf("| server CPU time: edits / reads | %.2f s of %.2f s / %.2f s |\n",
              cpuAfterEdits - cpuBefore, editSeconds, cpuAfter - cpuAfterEdits);
  std::printf("| week reads: wall time / client CPU time | %.2f s / %.2f s |\n", readSeconds,
              clientReadCpu);
  std::printf("| server resident memory (peak) | %.1f MiB |\n", peak);
  std::printf("| server threads: after log-in / most seen during the run | %ld / %ld |\n",
              threadsBefore, threadsPeak.load());
  if (s.idle > 0 || s.slow) {
    std::printf("| sessions on line: editing / idle / slow reader | %d / %d / %d |\n", s.users,
                s.idle, s.slow ? 1 : 0);
  }
  std::printf("| journal files on disk (largest seen) | %.1f MiB |\n",
              static_cast<double>(journalPeak.load()) / (1024 * 1024));
  if (feed) {
    std::printf("| .ics of %d days of data (%zu events) fetches / failures | %zu / %zu |\n",
                kDaysOfData, feedEvents, fetchMs.size(), fetchFailures);
    std::printf("| .ics fetch latency under the load above p50 / p99 | %.2f ms / %.2f ms |\n",
                Percentile(fetchMs, 0.50), Percentile(fetchMs, 0.99));
    std::printf(
        "| .ics fetch latency, one edit per 100 ms, %zu fetches: p50 / p99 | %.2f ms / %.2f ms |\n",
        quietMs.size(), Percentile(quietMs, 0.50), Percentile(quietMs, 0.99));
  }
  if (incomplete > 0) std::printf("\n%zu edits did not reach every other member\n", incomplete);
  std::printf("\n");

  clients.clear();
  daemon->Signal(SIGTERM);
  daemon->WaitForExit(5s);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--seconds") s.seconds = value;
    if (option == "--users") s.users = value;
    if (option == "--window") s.window = value;
    if (option == "--reads") s.reads = value;
    if (option == "--sync") s.sync = value;
    if (option == "--feed") s.feed = value != 0;
    if (option == "--feed-pause") s.feedPauseMs = value;
    if (option == "--idle") s.idle = value;
    if (option == "--slow") s.slow = value != 0;
  }
  if (s.users < 2 || s.users > 100 || s.seconds < 1 || s.window < 1 || s.reads < 1 ||
      s.feedPauseMs < 0 || (s.sync != 0 && s.sync != 1) || s.idle < 0 || s.idle > 400) {
    std::cerr << "usage: bench_load [--seconds N] [--users 2..100] [--window N] [--reads N] "
                 "[--sync 0|1] [--feed 1] [--feed-pause MS] [--idle 0..400] [--slow 0|1]\n";
    return 1;
  }
  if (RunLoad(s, false) != 0) return 1;
  return s.feed ? RunLoad(s, true) : 0;
}
