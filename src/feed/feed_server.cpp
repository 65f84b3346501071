#include "feed/feed_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "config/feed_settings.h"
#include "feed/calendar.h"
#include "feed/http_listener.h"
#include "feed/metrics_text.h"
#include "feed/page_session.h"
#include "feed/peer_filter.h"
#include "feed/status_page.h"
#include "feed/web_assets.h"
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

constexpr int kHttpThreads = 2;
constexpr const char* kPagePath = "/ws";

namespace http = boost::beast::http;
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

// The path of a request target, percent-decoded, without its query; nothing when malformed.
std::optional<std::string> DecodedPath(std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  std::string out;
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] != '%') {
      out += target[i];
      continue;
    }
    if (i + 2 >= target.size() || !std::isxdigit(static_cast<unsigned char>(target[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(target[i + 2]))) {
      return std::nullopt;
    }
    out += static_cast<char>(std::stoi(std::string(target.substr(i + 1, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

}  // namespace

struct FeedServer::Impl final : HttpRoutes {
  Impl(state::Server& s, service::MemberApi* a, FeedTuning t) : server(s), api(a), tuning(t) {}

  state::Server& server;
  service::MemberApi* api;
  FeedTuning tuning;
  config::FeedSettings settings;
  std::unique_ptr<PeerFilter> filter;
  std::unique_ptr<PeerDecider> peers;
  std::unique_ptr<PageContext> pages;
  std::unique_ptr<HttpListener> listener;
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

  void Log(const std::string& text) { server.runtime.log.Write("Feed: " + text); }

  std::string Utf8(std::string_view text) const {
    return platform::CodePageToUtf8(text, settings.CodePage.c_str());
  }

  // ---- HttpRoutes, on the listener's threads ------------------------------------------------

  HttpResponse Serve(const HttpRequest& req, const PeerInfo& peer) override {
    try {
      return Route(req, peer);
    } catch (const std::exception& e) {
      server.runtime.boundaryErrors.Report("Feed");
      HttpResponse res = TextResponse(req, http::status::service_unavailable,
                                      std::string("Not available: ") + e.what() + "\n");
      res.set(http::field::retry_after, "5");
      return res;
    }
  }

  bool IsPageTarget(const std::string& target) const override {
    return target.substr(0, target.find('?')) == kPagePath;
  }

  void OpenPage(boost::beast::tcp_stream stream, HttpRequest request,
                const PeerInfo& peer) override {
    std::make_shared<PageSession>(*pages, std::move(stream), peer)->Start(std::move(request));
  }

  void Refused(const std::string& address, const std::string& why) override {
    state::Metrics::Add(server.runtime.metrics.refusedHttp);
    if (filter->ShouldLogRefusal(address)) {
      Log("request refused (403): " + address + " (" + why + ")");
    }
  }

  HttpResponse Route(const HttpRequest& req, const PeerInfo& peer) {
    if (req.method() != http::verb::get && req.method() != http::verb::head) {
      HttpResponse res = TextResponse(req, http::status::method_not_allowed, "Not allowed\n");
      res.set(http::field::allow, "GET, HEAD");
      return res;
    }
    const std::optional<std::string> path = DecodedPath(req.target());
    if (!path) return NotFound(req, "Not found\n");
    static const std::string kGroups = "/groups/", kIcs = ".ics", kApp = "/app/";
    if (path->rfind(kGroups, 0) == 0 && path->size() > kGroups.size() + kIcs.size() &&
        path->compare(path->size() - kIcs.size(), kIcs.size(), kIcs) == 0) {
      return Calendar(req,
                      path->substr(kGroups.size(), path->size() - kGroups.size() - kIcs.size()));
    }
    if (*path == "/metrics") {
      state::Metrics::Add(counters.metrics);
      return TextResponse(req, http::status::ok,
                          RenderMetrics(server.runtime.metrics, server.roster.sessionCount.load(),
                                        counters, CollectGroupGauges(server, aliases)),
                          "text/plain; version=0.0.4; charset=utf-8");
    }
    if (*path == "/status") return Status(req);
    if (*path == "/") {
      if (peer.member == nullptr) return Status(req);
      return File(req, "index.html");
    }
    if (path->rfind(kApp, 0) == 0) {
      if (peer.member == nullptr) return NotFound(req, "Not found\n");
      return File(req, path->substr(kApp.size()));
    }
    return NotFound(req, "Not found\n");
  }

  HttpResponse NotFound(const HttpRequest& req, std::string body) {
    state::Metrics::Add(counters.notFound);
    return TextResponse(req, http::status::not_found, std::move(body));
  }

  HttpResponse File(const HttpRequest& req, const std::string& name) {
    const WebAsset* file = FindWebFile(name);
    if (file == nullptr || name == "embed.cmake") return NotFound(req, "Not found\n");
    HttpResponse res =
        TextResponse(req, http::status::ok, std::string(file->bytes), ContentTypeOf(name));
    res.set(http::field::cache_control, "no-cache");
    return res;
  }

  HttpResponse Calendar(const HttpRequest& req, const std::string& alias) {
    const auto it = std::find(aliases.begin(), aliases.end(), alias);
    if (it == aliases.end()) return NotFound(req, "No group named " + alias + "\n");
    const auto began = std::chrono::steady_clock::now();
    state::TMyDBUser& group = server.roster.groups[static_cast<size_t>(it - aliases.begin())];
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
        // Today and the days ahead first, then the past: a calendar at its byte cap leaves
        // out the oldest days rather than the coming ones. Events may come in any order.
        const auto add = [&](wire::ConstDayBytes day) { calendar.AddDay(day); };
        store::ReadDayRange(group, today, today + kDaysAhead, add);
        store::ReadDayRange(group, today - 1 - std::max(group.Count, 0), today - 1, add);
      }
      body = calendar.Take();
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
    const auto match = req.find(http::field::if_none_match);
    if (match != req.end() && MatchesAny(std::string(match->value()), tag)) {
      state::Metrics::Add(counters.calendarNotModified);
      HttpResponse res{http::status::not_modified, req.version()};
      res.set(http::field::etag, tag);
      res.set(http::field::last_modified, HttpDate(modified));
      res.set(http::field::cache_control, "no-cache");
      res.keep_alive(req.keep_alive());
      return res;
    }
    state::Metrics::Add(counters.calendar);
    HttpResponse res =
        TextResponse(req, http::status::ok, std::move(body), "text/calendar; charset=utf-8");
    res.set(http::field::etag, tag);
    res.set(http::field::last_modified, HttpDate(modified));
    res.set(http::field::cache_control, "no-cache");
    return res;
  }

  HttpResponse Status(const HttpRequest& req) {
    state::Metrics::Add(counters.status);
    StatusSnapshot st;
    st.Version = QV_VERSION;
    st.NowMs = NowMs();
    st.StartedMs = server.setup.startedUnixMs;
    for (size_t g = 0; g < server.roster.groups.size(); ++g) {
      state::TMyDBUser& group = server.roster.groups[g];
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
      for (const state::TMyNameUser& user : group.Users) {
        if (!user.Valid) continue;
        st.Users.push_back({aliases[g], Utf8(user.UserName), Utf8(user.HostName),
                            user.Connected.load(), user.SessionStartMs.load()});
      }
    }
    for (const std::string& line : server.runtime.log.RecentLines())
      st.LogLines.push_back(Utf8(line));
    return TextResponse(req, http::status::ok, RenderStatusPage(st), "text/html; charset=utf-8");
  }
};

FeedServer::FeedServer(state::Server& server, service::MemberApi* api, FeedTuning tuning)
    : impl_(std::make_unique<Impl>(server, api, tuning)) {}

FeedServer::~FeedServer() {
  Stop();
}

bool FeedServer::Listening() const {
  return impl_->listener != nullptr;
}

int FeedServer::OpenPages() const {
  return impl_->listener ? impl_->listener->OpenPages() : 0;
}

void FeedServer::Start(service::MemberApi* api) {
  impl_->api = api;
  Start();
}

void FeedServer::Start() {
  Impl& im = *impl_;
  try {
    im.settings = config::ReadFeedSettings(config::IniStore(im.server.ConfigPath()));
    for (const std::string& problem : im.settings.Problems) im.Log("[Feed] " + problem);
    if (im.settings.Port == 0) return;
    for (const state::TMyDBUser& group : im.server.roster.groups) {
      im.aliases.push_back(im.Utf8(group.Alias));
      im.cache.emplace_back();
    }
    im.filter = std::make_unique<PeerFilter>(im.settings.Allow);
    im.peers = std::make_unique<PeerDecider>(
        im.server, *im.filter,
        [](const std::string& address) { return platform::ReverseLookup(address); },
        im.tuning.lookupLimit);
    ListenerOptions options;
    options.address = im.settings.Address;
    options.port = static_cast<uint16_t>(im.settings.Port);
    options.threads = kHttpThreads;
    options.idle = im.tuning.idle;
    options.maxPages = im.settings.MaxClients;
    options.proxy = im.settings.Proxy;
    options.lowPriority = im.tuning.lowPriority;
    auto listener = std::make_unique<HttpListener>(options, im, *im.peers);
    im.pages = std::make_unique<PageContext>(
        im.server, im.api, PageCodec(im.settings.CodePage), listener.get(),
        im.server.setup.catalogue.Current() == state::Language::Russian ? "ru" : "en",
        options.maxRequestBytes, [&im](const std::string& line) { im.Log(line); });
    im.pages->fanout = std::make_unique<PageFanout>(listener->Context());
    std::string why;
    if (!listener->Start(why)) {
      im.Log("cannot listen on " + im.settings.Address + ":" + std::to_string(im.settings.Port) +
             " (" + why + ")");
      return;
    }
    im.listener = std::move(listener);
    im.Log("listening on http://" + im.settings.Address + ":" + std::to_string(im.settings.Port) +
           "/");
  } catch (const std::exception& e) {
    im.Log(std::string("not started: ") + e.what());
  }
}

void FeedServer::Stop() {
  Impl& im = *impl_;
  if (!im.listener) return;
  if (im.pages) im.pages->stopping = true;
  im.listener->Stop();
  // Pages still on their way from the event thread go while the listener they report to lives.
  if (im.pages) im.pages->fanout.reset();
  im.listener.reset();
}

}  // namespace qv::feed
