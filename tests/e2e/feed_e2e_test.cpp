// The HTTP feed of the real daemon: a group's calendar as edited through the client library
// (parsed with libical), its entity tag, refusals, the status page and the metrics.
#include <gtest/gtest.h>

#include <libical/ical.h>
#include <ctime>

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "client/client.h"
#include "platform/text_codec.h"
#include "platform/time.h"
#include "support/daemon_process.h"
#include "support/http_get.h"
#include "support/test_server.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::e2e {
namespace {

using namespace std::chrono_literals;
using client::Bytes;
using client::Int32At;

Bytes Request(int32_t code, int32_t subcode, double day, const std::string& slotTime = {},
              const std::string& text = {}) {
  Bytes p(wire::request::kSize, 0);
  wire::SetCodes(p.data(), code, subcode);
  wire::SetDoubleAt(p.data(), wire::request::kDateOffset, day);
  wire::WriteShortString(p.data(), wire::request::kSlotTime, slotTime);
  wire::WriteShortString(p.data(), wire::request::kText, text);
  return p;
}

// The next frame with this code, keep-alives and status broadcasts passed over.
std::optional<Bytes> Await(client::Client& c, int32_t code) {
  return c.ReceiveFrameWithCode(code, 5s);
}

struct Event {
  std::string summary, description;
  icaltimetype start{}, end{};
};

struct Parsed {
  std::string name;  // X-WR-CALNAME
  std::string version;
  std::map<std::string, Event> byUid;
};

// Parses the calendar with libical; every VEVENT by its UID.
Parsed Parse(const std::string& text) {
  Parsed parsed;
  icalcomponent* cal = icalparser_parse_string(text.c_str());
  if (cal == nullptr) return parsed;
  for (icalproperty* p = icalcomponent_get_first_property(cal, ICAL_ANY_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(cal, ICAL_ANY_PROPERTY)) {
    if (icalproperty_isa(p) == ICAL_X_PROPERTY &&
        std::string(icalproperty_get_x_name(p)) == "X-WR-CALNAME") {
      parsed.name = icalproperty_get_x(p);
    }
    if (icalproperty_isa(p) == ICAL_VERSION_PROPERTY) parsed.version = icalproperty_get_version(p);
  }
  for (icalcomponent* e = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
       e != nullptr; e = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
    Event event;
    event.summary = icalcomponent_get_summary(e) ? icalcomponent_get_summary(e) : "";
    event.description = icalcomponent_get_description(e) ? icalcomponent_get_description(e) : "";
    event.start = icalcomponent_get_dtstart(e);
    event.end = icalcomponent_get_dtend(e);
    parsed.byUid[icalcomponent_get_uid(e)] = event;
  }
  icalcomponent_free(cal);
  return parsed;
}

int64_t UtcSeconds(const icaltimetype& t) {
  return static_cast<int64_t>(icaltime_as_timet_with_zone(t, icaltimezone_get_utc_timezone()));
}

// Every line of a Prometheus text is a comment or "name{labels} number".
bool IsPrometheusText(const std::string& text, std::string& bad) {
  static const std::regex sample(
      R"(^[a-zA-Z_:][a-zA-Z0-9_:]*(\{[a-zA-Z_][a-zA-Z0-9_]*="[^"]*"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"]*")*\})? [-+0-9.eE]+(Inf)?$)");
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) continue;
    if (!std::regex_match(line, sample)) {
      bad = line;
      return false;
    }
  }
  return true;
}

double Sample(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + " ", 0) == 0) return std::stod(line.substr(name.size() + 1));
  }
  return -1;
}

class FeedE2E : public ::testing::Test {
 protected:
  void StartDaemon() {
    test::IniConfig config;
    config.port = test::FreePortPair();
    config.checkIntervalMs = 0;
    config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
    port_ = config.port;
    feedPort_ = test::FreePortPair();
    std::string ini = test::IniText(config);
    ini.replace(ini.find("[Options]\r\n"), 11, "[Options]\r\nApplicationCharset=4\r\n");
    ini.replace(ini.find("Name=\r\n"), 7, "Name=" + dir_.Path() + "/team.qdb\r\n");
    ini.replace(ini.find("Alias1=Group 1"), 14, "Alias1=Team");
    ini += "[Feed]\r\nPort=" + std::to_string(feedPort_) +
           "\r\nAddress=127.0.0.1\r\nAllow=127.0.0.8/30, 10.1.2.3\r\n";
    test::WriteFile(dir_.Path() + "/Server.ini", ini);
    test::WriteFile(dir_.Path() + "/team.qdb", "");
    daemon_ = test::DaemonProcess::StartWhenFree(QV_SERVERD_PATH, dir_.Path(), "Feed: listening");
    ASSERT_TRUE(daemon_->WaitForOutput("Feed: listening", 5s))
        << daemon_->Stdout() << daemon_->Stderr();
  }
  ~FeedE2E() override {
    if (daemon_) daemon_->Stop(5s);
  }

  std::optional<test::HttpResponse> Get(const std::string& path,
                                        const std::string& from = "127.0.0.1",
                                        const std::map<std::string, std::string>& headers = {}) {
    return test::HttpGet(from, feedPort_, path, headers);
  }

  std::unique_ptr<client::Client> Login(const std::string& host) {
    client::ClientOptions options;
    options.localAddress = host;
    options.port = port_;
    auto c = std::make_unique<client::Client>(options);
    if (!c->Login(5s)) return nullptr;
    return c;
  }

  // Sends an edit and waits for its acknowledgment.
  void Edit(client::Client& c, const Bytes& request) {
    ASSERT_TRUE(c.SendFrame(request));
    const auto ack = Await(c, 3000);
    ASSERT_TRUE(ack) << c.Error();
    ASSERT_EQ(Int32At(*ack, 8), Int32At(request, 0));
  }

  test::TempDir dir_;
  int port_ = 0;
  int feedPort_ = 0;
  std::unique_ptr<test::DaemonProcess> daemon_;
};

TEST_F(FeedE2E, CalendarFollowsTheEditsAndOnlyAllowedPeersGetIt) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("127.0.0.2");
  ASSERT_TRUE(alice);
  const double day = platform::Today() + 1;
  const platform::LocalTime date = platform::DecodeDateTime(day);
  const std::string title = "Планёрка отдела";  // UTF-8 here, Windows-1251 on the wire

  Edit(*alice, Request(2, 0, day, "", platform::Utf8ToCp1251(title)));
  Edit(*alice, Request(4, 0, day, " 9.00", "Standup"));
  Edit(*alice, Request(4, 3, day, "", platform::Utf8ToCp1251("Обед & co")));
  // Slot 0 gets an id: its UID follows the id from now on.
  Bytes idRequest = Request(1000, 6, day);
  wire::SetInt32At(idRequest.data(), wire::request::kIndex2Offset, 0);
  ASSERT_TRUE(alice->SendFrame(idRequest));
  const auto idReply = Await(*alice, 2000);
  ASSERT_TRUE(idReply);
  const int32_t slotId = Int32At(*idReply, wire::request::kSlotIdOffset);
  ASSERT_NE(slotId, 0);

  const auto first = Get("/groups/Team.ics");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  EXPECT_EQ(first->Header("content-type"), "text/calendar; charset=utf-8");
  EXPECT_FALSE(first->Header("last-modified").empty());
  const std::string etag = first->Header("etag");
  ASSERT_FALSE(etag.empty());
  EXPECT_NE(first->body.find("DTSTART;VALUE=DATE:"), std::string::npos) << first->body;

  char ymd[16];
  std::snprintf(ymd, sizeof ymd, "%04d%02d%02d", date.year, date.month, date.day);
  const std::string dayUid = std::string("day-") + ymd + "@Team.quorvane";
  const std::string idUid =
      "slot-" + std::to_string(static_cast<uint32_t>(slotId)) + "@Team.quorvane";
  const std::string lunchUid = std::string("slot-") + ymd + "-3@Team.quorvane";
  Parsed cal = Parse(first->body);
  EXPECT_EQ(cal.name, "Team");
  EXPECT_EQ(cal.version, "2.0");
  ASSERT_EQ(cal.byUid.size(), 3u) << first->body;
  ASSERT_TRUE(cal.byUid.count(dayUid)) << first->body;
  ASSERT_TRUE(cal.byUid.count(idUid)) << first->body;
  ASSERT_TRUE(cal.byUid.count(lunchUid)) << first->body;

  const Event& titleEvent = cal.byUid[dayUid];
  EXPECT_EQ(titleEvent.summary, title);
  EXPECT_TRUE(titleEvent.start.is_date);
  EXPECT_EQ(titleEvent.start.year, date.year);
  EXPECT_EQ(titleEvent.start.month, date.month);
  EXPECT_EQ(titleEvent.start.day, date.day);

  const Event& standup = cal.byUid[idUid];
  EXPECT_EQ(standup.summary, "Standup");
  EXPECT_EQ(UtcSeconds(standup.start),
            platform::LocalToUnixSeconds(date.year, date.month, date.day, 9 * 60));
  // Ends at the next labelled slot: slot 2 of the blank day, "10.00".
  EXPECT_EQ(UtcSeconds(standup.end),
            platform::LocalToUnixSeconds(date.year, date.month, date.day, 10 * 60));

  // Slot 3 has no label: the grid places it half-way between 10.00 and 11.00.
  const Event& lunch = cal.byUid[lunchUid];
  EXPECT_EQ(lunch.summary, "Обед & co");
  EXPECT_EQ(UtcSeconds(lunch.start),
            platform::LocalToUnixSeconds(date.year, date.month, date.day, 10 * 60 + 30));
  EXPECT_EQ(UtcSeconds(lunch.end),
            platform::LocalToUnixSeconds(date.year, date.month, date.day, 11 * 60));

  // Unchanged: 304 for the tag.
  const auto again = Get("/groups/Team.ics", "127.0.0.1", {{"If-None-Match", etag}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_TRUE(again->body.empty());

  // Another edit changes the feed; the untouched slots keep their UIDs.
  Edit(*alice, Request(4, 0, day, " 9.00", "Standup (moved room)"));
  const auto changed = Get("/groups/Team.ics", "127.0.0.1", {{"If-None-Match", etag}});
  ASSERT_TRUE(changed);
  ASSERT_EQ(changed->status, 200);
  EXPECT_NE(changed->Header("etag"), etag);
  Parsed after = Parse(changed->body);
  ASSERT_EQ(after.byUid.size(), 3u);
  EXPECT_EQ(after.byUid[idUid].summary, "Standup (moved room)");
  EXPECT_EQ(after.byUid[lunchUid].summary, "Обед & co");
  EXPECT_EQ(after.byUid[dayUid].summary, title);

  // Peers: a user's host and an Allow range may, another loopback address may not.
  const auto fromUserHost = Get("/groups/Team.ics", "127.0.0.3");
  ASSERT_TRUE(fromUserHost);
  EXPECT_EQ(fromUserHost->status, 200);
  const auto fromAllowed = Get("/groups/Team.ics", "127.0.0.9");
  ASSERT_TRUE(fromAllowed);
  EXPECT_EQ(fromAllowed->status, 200);
  for (int i = 0; i < 2; ++i) {
    const auto refused = Get("/groups/Team.ics", "127.0.0.20");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(refused->body.find("BEGIN:VCALENDAR"), std::string::npos);
  }
  ASSERT_TRUE(daemon_->WaitForOutput("Feed: request refused (403): 127.0.0.20", 3s));
  EXPECT_EQ(daemon_->Count("Feed: request refused (403): 127.0.0.20"), 1);  // once a minute

  const auto unknown = Get("/groups/Nobody.ics");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  EXPECT_EQ(unknown->body, "No group named Nobody\n");

  const auto metrics = Get("/metrics");
  ASSERT_TRUE(metrics);
  ASSERT_EQ(metrics->status, 200);
  std::string bad;
  EXPECT_TRUE(IsPrometheusText(metrics->body, bad)) << bad;
  EXPECT_EQ(Sample(metrics->body, "quorvane_edits_acknowledged_total"), 4);
  EXPECT_EQ(Sample(metrics->body, "quorvane_ack_latency_seconds_count"), 4);
  EXPECT_EQ(Sample(metrics->body, "quorvane_sessions"), 1);
  EXPECT_GE(Sample(metrics->body, "quorvane_frames_received_total"), 5);
  EXPECT_EQ(Sample(metrics->body, "quorvane_refusals_total{kind=\"http_forbidden\"}"), 2);
  EXPECT_EQ(Sample(metrics->body, "quorvane_http_requests_total{route=\"other\",code=\"404\"}"), 1);
  EXPECT_EQ(Sample(metrics->body, "quorvane_http_requests_total{route=\"calendar\",code=\"304\"}"),
            1);
  EXPECT_NE(metrics->body.find("# TYPE quorvane_journal_sync_seconds histogram"),
            std::string::npos);
  // The edits were journalled (SyncWrites is on by default): the acknowledgments waited for
  // syncs, and every sync was timed.
  const double syncs = Sample(metrics->body, "quorvane_journal_syncs_total");
  EXPECT_GE(syncs, 1);
  EXPECT_EQ(Sample(metrics->body, "quorvane_journal_sync_seconds_count"), syncs);
  // The daemon's own process: started within the last minute, some memory and descriptors.
  const double now = static_cast<double>(std::time(nullptr));
  const double started = Sample(metrics->body, "process_start_time_seconds");
  EXPECT_GT(started, now - 60);
  EXPECT_LE(started, now + 1);
  EXPECT_GT(Sample(metrics->body, "process_resident_memory_bytes"), 1 << 20);
  EXPECT_GE(Sample(metrics->body, "process_open_fds"), 5);  // listeners and sessions at least
  EXPECT_GE(Sample(metrics->body, "process_cpu_seconds_total"), 0);
  EXPECT_EQ(Sample(metrics->body, "quorvane_group_members_online{group=\"Team\"}"), 1);
  EXPECT_GE(Sample(metrics->body, "quorvane_group_day_records{group=\"Team\"}"), 1);
  EXPECT_GE(Sample(metrics->body, "quorvane_group_datafile_bytes{group=\"Team\"}"), 1);
  EXPECT_NE(metrics->body.find("quorvane_build_info{version=\""), std::string::npos);
}

TEST_F(FeedE2E, StatusPageShowsUsersAndTheirState) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("127.0.0.2");
  ASSERT_TRUE(alice);
  const auto page = Get("/");
  ASSERT_TRUE(page);
  ASSERT_EQ(page->status, 200);
  EXPECT_EQ(page->Header("content-type"), "text/html; charset=utf-8");
  const std::string& html = page->body;
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_NE(html.find("<td>Team</td>"), std::string::npos);
  EXPECT_NE(html.find("team.qdb"), std::string::npos);
  const std::regex aliceRow(
      R"(<tr><td>alice</td><td>Team</td><td>127\.0\.0\.2</td><td class="online">on line</td><td>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d</td></tr>)");
  const std::regex bobRow(
      R"(<tr><td>bob</td><td>Team</td><td>127\.0\.0\.3</td><td class="offline">off line</td><td></td></tr>)");
  EXPECT_TRUE(std::regex_search(html, aliceRow)) << html;
  EXPECT_TRUE(std::regex_search(html, bobRow)) << html;
  EXPECT_NE(html.find("Initialization -&gt; Ok!"), std::string::npos) << html;
  // The listener ends with the server.
  EXPECT_EQ(daemon_->Stop(5s), 0);
  EXPECT_FALSE(Get("/"));
}

}  // namespace
}  // namespace qv::e2e
