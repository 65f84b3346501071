#include "feed/feed_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "config/feed_settings.h"
#include "feed/calendar.h"
#include "feed/metrics_text.h"
#include "feed/peer_filter.h"
#include "feed/status_page.h"
#include "feed/task_queue.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/text_codec.h"
#include "platform/thread.h"
#include "platform/time.h"
#include "store/day_range_reader.h"

#ifndef QV_VERSION
#define QV_VERSION "dev"
#endif

namespace qv::feed {
namespace {

constexpr size_t kHttpThreads = 2;
constexpr int kDaysAhead = 365;
constexpr int64_t kSettledSeconds = 2;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string HttpDate(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

// FNV-1a, 64 bits: the entity tag of a calendar text.
std::string ContentTag(const std::string& body) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : body) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

// If-None-Match holds tag (or "*"), weak tags compared by their opaque part.
bool MatchesAny(const std::string& header, const std::string& tag) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find(',', start);
    if (end == std::string::npos) end = header.size();
    std::string item = header.substr(start, end - start);
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (item.rfind("W/", 0) == 0) item.erase(0, 2);
    if (item == "*" || item == tag) return true;
    start = end + 1;
  }
  return false;
}

std::string DayText(double date) {
  if (date == 0) return {};
  return platform::FormatDateTime(date, "yyyy-mm-dd");
}

int32_t IntOr(const std::string& text, int32_t fallback) {
  int32_t value = 0;
  return config::TryParseInt(text, value) ? value : fallback;
}

}  // namespace

struct FeedServer::Impl {
  explicit Impl(Server& s) : server(s) {}

  Server& server;
  config::FeedSettings settings;
  std::unique_ptr<PeerFilter> filter;
  std::vector<std::string> aliases;  // UTF-8, by group index
  FeedCounters counters;
  // The last calendar built per group, kept while its datafile and the day stay the same.
  struct Cached {
    int64_t modifiedNs = -1, size = -1;
    double today = 0;
    std::string body, tag;
  };
  std::mutex cacheMutex;
  std::vector<Cached> cache;
  httplib::Server http;
  std::thread thread;
  std::atomic<bool> finished{false};  // the listening thread has returned
  bool listening = false;

  void Log(const std::string& text) { server.log.Write("Feed: " + text); }

  std::string Utf8(std::string_view text) const {
    return platform::CodePageToUtf8(text, settings.CodePage.c_str());
  }

  void Install() {
    http.new_task_queue = [] { return new LowPriorityTaskQueue(kHttpThreads); };
    http.set_keep_alive_max_count(20);
    http.set_payload_max_length(64 * 1024);
    http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return Admit(req, res); });
    http.Get(R"(/groups/(.+)\.ics)", [this](const httplib::Request& req, httplib::Response& res) {
      Guard(res, [&] { Calendar(req, res); });
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      Guard(res, [&] { Status(res); });
    });
    http.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      Metrics::Add(counters.metrics);
      res.set_content(RenderMetrics(server.metrics, server.sessionCount.load(), counters),
                      "text/plain; version=0.0.4; charset=utf-8");
    });
    http.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
      // Every 404 passes here, the calendar's unknown aliases included.
      if (res.status == 404) {
        Metrics::Add(counters.notFound);
        if (res.body.empty()) res.set_content("Not found\n", "text/plain; charset=utf-8");
      }
    });
  }

  template <class Fn>
  void Guard(httplib::Response& res, Fn fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      server.boundaryErrors.Report("Feed");
      res.status = 503;
      res.set_header("Retry-After", "5");
      res.set_content(std::string("Not available: ") + e.what() + "\n",
                      "text/plain; charset=utf-8");
    }
  }

  httplib::Server::HandlerResponse Admit(const httplib::Request& req, httplib::Response& res) {
    if (filter->Allowed(req.remote_addr)) return httplib::Server::HandlerResponse::Unhandled;
    Metrics::Add(server.metrics.refusedHttp);
    const std::string peer = PlainIpv4(req.remote_addr);
    if (filter->ShouldLogRefusal(peer)) {
      Log("request refused (403): " + peer +
          " is neither 127.0.0.1, a user's host nor in [Feed] Allow");
    }
    res.status = 403;
    res.set_content("Forbidden\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }

  void Calendar(const httplib::Request& req, httplib::Response& res) {
    const std::string alias = req.matches[1];
    const auto it = std::find(aliases.begin(), aliases.end(), alias);
    if (it == aliases.end()) {
      res.status = 404;
      res.set_content("No group named " + alias + "\n", "text/plain; charset=utf-8");
      return;
    }
    const auto began = std::chrono::steady_clock::now();
    TMyDBUser& group = server.groups[static_cast<size_t>(it - aliases.begin())];
    SlotGrid grid{IntOr(group.TimeBegin, 9), std::clamp(IntOr(group.Step, 0), 0, 23)};
    const size_t index = static_cast<size_t>(it - aliases.begin());
    const double today = platform::Today();
    store::DatafileSummary summary;
    const int64_t now = platform::UnixSecondsNow();
    summary.ModifiedNs = (now - now % 60) * 1000000000;  // no datafile: nothing changes
    if (!group.FileName.empty()) summary = store::ReadDatafileSummary(group);
    std::string body, tag;
    {
      std::lock_guard lock(cacheMutex);
      const Cached& c = cache[index];
      if (c.modifiedNs == summary.ModifiedNs && c.size == summary.Size && c.today == today) {
        body = c.body;
        tag = c.tag;
      }
    }
    const int64_t modified = summary.ModifiedNs / 1000000000;
    if (body.empty()) {
      CalendarBuilder calendar(group.Alias, settings.CodePage.c_str(), grid, modified);
      if (!group.FileName.empty()) {
        const double from = today - 1 - std::max(group.Count, 0);
        store::ReadDayRange(group, from, today + kDaysAhead,
                            [&](wire::ConstDayBytes day) { calendar.AddDay(day); });
      }
      body = calendar.Text();
      tag = ContentTag(body);
      // Kept only for a file that has not changed for a while: the file system's clock is
      // coarse, and a write within the same tick would leave time and size as they are.
      if (summary.ModifiedNs / 1000000000 + kSettledSeconds < now) {
        std::lock_guard lock(cacheMutex);
        cache[index] = {summary.ModifiedNs, summary.Size, today, body, tag};
      }
    }
    counters.calendarLatency.Observe(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - began)
                                         .count());
    res.set_header("ETag", tag);
    res.set_header("Last-Modified", HttpDate(modified));
    res.set_header("Cache-Control", "no-cache");
    if (req.has_header("If-None-Match") && MatchesAny(req.get_header_value("If-None-Match"), tag)) {
      Metrics::Add(counters.calendarNotModified);
      res.status = 304;
      return;
    }
    Metrics::Add(counters.calendar);
    res.set_content(body, "text/calendar; charset=utf-8");
  }

  void Status(httplib::Response& res) {
    Metrics::Add(counters.status);
    StatusSnapshot st;
    st.Version = QV_VERSION;
    st.NowMs = NowMs();
    st.StartedMs = server.startedUnixMs;
    for (size_t g = 0; g < server.groups.size(); ++g) {
      TMyDBUser& group = server.groups[g];
      StatusGroup row;
      row.Alias = aliases[g];
      row.Datafile = Utf8(group.FileName);
      if (!group.FileName.empty()) {
        try {
          const store::DatafileSummary summary = store::ReadDatafileSummary(group);
          row.Size = summary.Size;
          row.FirstDay = DayText(summary.FirstDay);
          row.LastDay = DayText(summary.LastDay);
        } catch (const std::exception&) {
        }
      }
      st.Groups.push_back(std::move(row));
      for (const TMyNameUser& user : group.Users) {
        if (!user.Valid) continue;
        st.Users.push_back({aliases[g], Utf8(user.UserName), Utf8(user.HostName),
                            user.Connected.load(), user.SessionStartMs.load()});
      }
    }
    for (const std::string& line : server.log.RecentLines()) st.LogLines.push_back(Utf8(line));
    res.set_content(RenderStatusPage(st), "text/html; charset=utf-8");
  }
};

FeedServer::FeedServer(Server& server) : impl_(std::make_unique<Impl>(server)) {}

FeedServer::~FeedServer() {
  Stop();
}

bool FeedServer::Listening() const {
  return impl_->listening;
}

void FeedServer::Start() {
  Impl& im = *impl_;
  try {
    im.settings = config::ReadFeedSettings(config::IniStore(im.server.ConfigPath()));
    for (const std::string& problem : im.settings.Problems) im.Log("[Feed] " + problem);
    if (im.settings.Port == 0) return;
    std::vector<std::string> hosts;
    for (const TMyDBUser& group : im.server.groups) {
      im.aliases.push_back(im.Utf8(group.Alias));
      im.cache.emplace_back();
      for (const TMyNameUser& user : group.Users) {
        if (user.Valid) hosts.push_back(user.HostName);
      }
    }
    im.filter = std::make_unique<PeerFilter>(
        im.settings.Allow, std::move(hosts),
        [](const std::string& address) { return platform::ReverseLookup(address); });
    im.Install();
    if (!im.http.bind_to_port(im.settings.Address.c_str(), im.settings.Port)) {
      im.Log("cannot listen on " + im.settings.Address + ":" + std::to_string(im.settings.Port));
      return;
    }
    im.thread = std::thread([&im] {
      platform::LowerCallingThreadPriority();
      im.http.listen_after_bind();
      im.finished = true;
    });
    im.listening = true;
    im.Log("listening on http://" + im.settings.Address + ":" + std::to_string(im.settings.Port) +
           "/");
  } catch (const std::exception& e) {
    im.Log(std::string("not started: ") + e.what());
  }
}

void FeedServer::Stop() {
  Impl& im = *impl_;
  if (!im.thread.joinable()) return;
  // A stop before the thread has started its loop would be lost: wait for it to run (or end).
  for (int i = 0; i < 500 && !im.http.is_running() && !im.finished; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  im.http.stop();
  im.thread.join();
  im.listening = false;
}

}  // namespace qv::feed
