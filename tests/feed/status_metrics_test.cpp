// The status page escapes what it shows; the metrics text is valid Prometheus exposition.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>
#include <vector>

#include "feed/metrics_text.h"
#include "feed/status_page.h"
#include "platform/process_figures.h"
#include "support/temp_dir.h"

namespace qv::feed {
namespace {

TEST(StatusPage, EveryTextIsEscapedAndNoScriptIsNeeded) {
  StatusSnapshot st;
  st.Version = "1.2";
  st.StartedMs = 1000;
  st.NowMs = 1000 + (26 * 3600 + 61) * 1000LL;
  st.Groups.push_back({"<b>Office</b>", "/srv/a&b.qdb", 55766, "2026-01-01", "2026-01-01"});
  st.Groups.push_back({"NoFile", "", std::nullopt, "", ""});
  st.Users.push_back({"<b>Office</b>", "Anna \"A\"", "pc7", true, 1765000000000});
  st.Users.push_back({"NoFile", "Boris", "10.0.0.1", false, 0});
  st.LogLines = {"10:00:00 first <line>", "10:00:01 second & last"};
  const std::string html = RenderStatusPage(st);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_NE(html.find("&lt;b&gt;Office&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(html.find("/srv/a&amp;b.qdb"), std::string::npos);
  EXPECT_NE(html.find("Anna &quot;A&quot;"), std::string::npos);
  EXPECT_NE(html.find("1 d 02:01:01"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"online\">on line</td>"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"offline\">off line</td>"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  // Newest log line first, as in the log window.
  EXPECT_LT(html.find("second &amp; last"), html.find("first &lt;line&gt;"));
}

TEST(Metrics, CountersAndHistogramsInExpositionFormat) {
  state::Metrics m;
  state::Metrics::Add(m.editsAcknowledged, 3);
  m.ackLatency.Observe(50);       // first bucket
  m.ackLatency.Observe(3000);     // le 0.005
  m.ackLatency.Observe(5000000);  // above the last bound
  FeedCounters feed;
  const std::string text = RenderMetrics(m, 2, feed);
  EXPECT_NE(text.find("quorvane_sessions 2\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_edits_acknowledged_total 3\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_bucket{le=\"0.0001\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_bucket{le=\"0.0025\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_bucket{le=\"0.005\"} 2\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_bucket{le=\"1\"} 2\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_bucket{le=\"+Inf\"} 3\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_count 3\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_ack_latency_seconds_sum 5.00305\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_send_queue_bytes_max 0\n"), std::string::npos);
  m.sendQueueBytesMax = 4096;
  EXPECT_NE(RenderMetrics(m, 0, feed).find("quorvane_send_queue_bytes_max 4096\n"),
            std::string::npos);
  // Each metric is introduced once by its TYPE line, before its samples.
  std::istringstream in(text);
  std::string line, lastType;
  int types = 0;
  while (std::getline(in, line)) {
    if (line.rfind("# TYPE ", 0) == 0) {
      ++types;
      lastType = line.substr(7, line.find(' ', 7) - 7);
    } else if (line.rfind("#", 0) != 0) {
      EXPECT_EQ(line.rfind(lastType, 0), 0u) << line;
    }
  }
  EXPECT_EQ(types, 27);  // with build information, six process figures and the journal gauge
  EXPECT_NE(text.find("\nquorvane_journal_pending_bytes 0\n"), std::string::npos) << text;
}

// What promtool, Prometheus's own checker, says of the text; empty when it is clean.
std::optional<std::string> PromtoolFindings(const std::string& text) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) return std::nullopt;
  test::TempDir dir;
  dir.Write("metrics.txt", text);
  const std::string command =
      "promtool check metrics < " + dir.File("metrics.txt") + " > " + dir.File("out.txt") + " 2>&1";
  const int status = std::system(command.c_str());
  std::string out = dir.Read("out.txt");
  if (status != 0 && out.empty()) out = "promtool failed";
  return out;
}

TEST(Metrics, BuildProcessAndGroupFiguresPassPromtool) {
  state::Metrics m;
  FeedCounters feed;
  const auto process = platform::ReadProcessFigures();
  ASSERT_TRUE(process.has_value());
  EXPECT_GT(process->ResidentBytes, 0);
  EXPECT_GE(process->OpenFds, 3);
  EXPECT_GT(process->StartTimeSeconds, 1.5e9);
  EXPECT_LE(process->StartTimeSeconds, static_cast<double>(std::time(nullptr)) + 1);
  // An open descriptor more shows.
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::ReadProcessFigures()->OpenFds, process->OpenFds + 1);
  ::close(fd);

  const std::vector<GroupGauges> groups = {{"Office", 400, 400 * 1000, 2},
                                           {"Say \"hi\"\\\n", 0, 0, 0}};
  const std::string text = RenderMetrics(m, 2, feed, groups, process);
  EXPECT_NE(text.find("quorvane_build_info{version=\""), std::string::npos) << text;
  EXPECT_NE(text.find("\nprocess_start_time_seconds "), std::string::npos);
  EXPECT_NE(text.find("\nprocess_resident_memory_bytes " + std::to_string(process->ResidentBytes)),
            std::string::npos);
  EXPECT_NE(text.find("\nprocess_open_fds "), std::string::npos);
  EXPECT_NE(text.find("# TYPE process_cpu_seconds_total counter\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_group_day_records{group=\"Office\"} 400\n"), std::string::npos);
  EXPECT_NE(text.find("quorvane_group_datafile_bytes{group=\"Office\"} 400000\n"),
            std::string::npos);
  EXPECT_NE(text.find("quorvane_group_members_online{group=\"Office\"} 2\n"), std::string::npos);
  EXPECT_NE(text.find("{group=\"Say \\\"hi\\\"\\\\\\n\"} 0\n"), std::string::npos) << text;
  // Without /proc the process figures are left out, the rest stays.
  EXPECT_EQ(RenderMetrics(m, 0, feed, {}, std::nullopt).find("process_"), std::string::npos);

  const auto findings = PromtoolFindings(text);
  if (!findings) GTEST_SKIP() << "promtool is not installed";
  EXPECT_EQ(*findings, "") << text;
}

}  // namespace
}  // namespace qv::feed
