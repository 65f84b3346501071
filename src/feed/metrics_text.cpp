#include "feed/metrics_text.h"

#include <cstdio>

#include "state/server.h"
#include "store/day_range_reader.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace qv::feed {
namespace {

class Writer {
 public:
  void Head(const char* name, const char* type, const char* help) {
    out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Value(const std::string& name, uint64_t value) {
    out_ += name + " " + std::to_string(value) + "\n";
  }
  void Value(const std::string& name, int64_t value) {
    out_ += name + " " + std::to_string(value) + "\n";
  }
  void Value(const std::string& name, double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    out_ += name + " " + text + "\n";
  }
  void Scalar(const char* name, const char* type, const char* help, uint64_t value) {
    Head(name, type, help);
    Value(name, value);
  }
  void Histogram(const char* name, const char* help, const state::LatencyHistogram& h) {
    Head(name, "histogram", help);
    uint64_t cumulative = 0;
    for (size_t i = 0; i < state::LatencyHistogram::kBoundsUs.size(); ++i) {
      cumulative += h.Bucket(i);
      out_ += std::string(name) + "_bucket{le=\"" + Seconds(state::LatencyHistogram::kBoundsUs[i]) +
              "\"} " + std::to_string(cumulative) + "\n";
    }
    cumulative += h.Bucket(state::LatencyHistogram::kBoundsUs.size());
    out_ += std::string(name) + "_bucket{le=\"+Inf\"} " + std::to_string(cumulative) + "\n";
    out_ += std::string(name) + "_sum " + Seconds(h.SumUs()) + "\n";
    // The count matches the +Inf bucket even while observations arrive during the reading.
    out_ += std::string(name) + "_count " + std::to_string(cumulative) + "\n";
  }
  std::string Take() { return std::move(out_); }

 private:
  static std::string Seconds(int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(micros) / 1e6);
    return text;
  }
  std::string out_;
};

uint64_t Load(const state::Metrics::Counter& c) {
  return c.load(std::memory_order_relaxed);
}

void WriteProcessFigures(Writer& w, const platform::ProcessFigures& p) {
  w.Head("process_start_time_seconds", "gauge",
         "Start time of the process since unix epoch in seconds.");
  w.Value("process_start_time_seconds", p.StartTimeSeconds);
  w.Head("process_cpu_seconds_total", "counter",
         "Total user and system CPU time spent in seconds.");
  w.Value("process_cpu_seconds_total", p.CpuSeconds);
  w.Head("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
  w.Value("process_resident_memory_bytes", p.ResidentBytes);
  w.Head("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
  w.Value("process_virtual_memory_bytes", p.VirtualBytes);
  if (p.OpenFds >= 0) {
    w.Head("process_open_fds", "gauge", "Number of open file descriptors.");
    w.Value("process_open_fds", p.OpenFds);
  }
  if (p.MaxFds > 0) {
    w.Head("process_max_fds", "gauge", "Maximum number of open file descriptors.");
    w.Value("process_max_fds", p.MaxFds);
  }
}

void WriteGroupGauges(Writer& w, const std::vector<GroupGauges>& groups) {
  if (groups.empty()) return;
  const auto label = [](const GroupGauges& g) {
    return "{group=\"" + EscapeLabelValue(g.Alias) + "\"}";
  };
  w.Head("quorvane_group_day_records", "gauge", "Day records in the group's datafile.");
  for (const GroupGauges& g : groups) w.Value("quorvane_group_day_records" + label(g), g.Days);
  w.Head("quorvane_group_datafile_bytes", "gauge", "Size of the group's datafile in bytes.");
  for (const GroupGauges& g : groups) {
    w.Value("quorvane_group_datafile_bytes" + label(g), g.DatafileBytes);
  }
  w.Head("quorvane_group_members_online", "gauge", "Members of the group with a session now.");
  for (const GroupGauges& g : groups) {
    w.Value("quorvane_group_members_online" + label(g), g.MembersOnLine);
  }
}

}  // namespace

std::string EscapeLabelValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<GroupGauges> CollectGroupGauges(state::Server& server,
                                            const std::vector<std::string>& aliases) {
  std::vector<GroupGauges> gauges;
  for (size_t g = 0; g < server.roster.groups.size(); ++g) {
    state::TMyDBUser& group = server.roster.groups[g];
    GroupGauges row;
    row.Alias = g < aliases.size() ? aliases[g] : group.Alias;
    if (!group.FileName.empty()) {
      try {
        const store::DatafileSummary summary = store::ReadDatafileSummary(group);
        row.Days = summary.Records;
        row.DatafileBytes = summary.Size;
      } catch (const std::exception&) {
      }
    }
    for (const state::TMyNameUser& user : group.Users) {
      if (user.Valid && user.Connected.load()) ++row.MembersOnLine;
    }
    gauges.push_back(std::move(row));
  }
  return gauges;
}

std::string RenderMetrics(const state::Metrics& m, int64_t sessions, const FeedCounters& feed,
                          const std::vector<GroupGauges>& groups,
                          const std::optional<platform::ProcessFigures>& process) {
  Writer w;
  w.Head("quorvane_build_info", "gauge", "Always 1; the version of the running server.");
  w.Value(std::string("quorvane_build_info{version=\"") + EscapeLabelValue(QV_VERSION) + "\"}",
          int64_t{1});
  if (process) WriteProcessFigures(w, *process);
  w.Head("quorvane_sessions", "gauge", "Users with a session now.");
  w.Value("quorvane_sessions", sessions);
  w.Scalar("quorvane_connections_accepted_total", "counter",
           "Incoming connections handed to identification.", Load(m.connectionsAccepted));
  w.Scalar("quorvane_frames_received_total", "counter", "Complete frames received.",
           Load(m.framesIn));
  w.Scalar("quorvane_bytes_received_total", "counter", "Bytes received from clients.",
           Load(m.bytesIn));
  w.Scalar("quorvane_frames_sent_total", "counter", "Packages handed to the users' send paths.",
           Load(m.framesOut));
  w.Scalar("quorvane_bytes_sent_total", "counter",
           "Bytes of those packages, length words included.", Load(m.bytesOut));
  w.Scalar("quorvane_edits_acknowledged_total", "counter", "Edits answered with an acknowledgment.",
           Load(m.editsAcknowledged));
  w.Scalar("quorvane_forwards_sent_total", "counter",
           "Packages sent on to the other members of a group or to everybody.",
           Load(m.forwardsSent));
  w.Scalar("quorvane_week_reads_total", "counter", "Days requests answered.", Load(m.weekReads));
  w.Scalar("quorvane_mail_stored_total", "counter", "Mail messages stored for a recipient.",
           Load(m.mailStored));
  w.Scalar("quorvane_mail_delivered_total", "counter", "Mail messages sent to their recipient.",
           Load(m.mailDelivered));
  w.Head("quorvane_send_queue_bytes_max", "gauge",
         "Most bytes one user's send queue held at once.");
  w.Value("quorvane_send_queue_bytes_max", m.sendQueueBytesMax.load(std::memory_order_relaxed));
  w.Head("quorvane_refusals_total", "counter", "Refused requests and connections, by kind.");
  w.Value("quorvane_refusals_total{kind=\"request\"}", Load(m.refusedRequests));
  w.Value("quorvane_refusals_total{kind=\"unknown_host\"}", Load(m.refusedUnknownHost));
  w.Value("quorvane_refusals_total{kind=\"malformed\"}", Load(m.refusedMalformed));
  w.Value("quorvane_refusals_total{kind=\"double_connection\"}", Load(m.refusedDouble));
  w.Value("quorvane_refusals_total{kind=\"http_forbidden\"}", Load(m.refusedHttp));
  w.Value("quorvane_refusals_total{kind=\"edit_refused\"}", Load(m.editsRefused));
  w.Value("quorvane_refusals_total{kind=\"edit_write_failed\"}", Load(m.editsWriteFailed));
  w.Scalar("quorvane_journal_syncs_total", "counter", "Journal syncs (group commits).",
           Load(m.journalSyncs));
  w.Histogram("quorvane_journal_sync_seconds", "Time one journal sync took.", m.journalSyncLatency);
  w.Scalar("quorvane_journal_checkpoints_total", "counter",
           "Journal files emptied after the datafile was synced.", Load(m.journalCheckpoints));
  w.Head("quorvane_journal_pending_bytes", "gauge",
         "Journal bytes not yet durable or not yet written in place, all groups.");
  w.Value("quorvane_journal_pending_bytes", m.journalPendingBytes.load(std::memory_order_relaxed));
  w.Histogram("quorvane_ack_latency_seconds",
              "From a complete edit request to its acknowledgment handed to the send path.",
              m.ackLatency);
  w.Head("quorvane_http_requests_total", "counter", "Requests the HTTP listener answered.");
  w.Value("quorvane_http_requests_total{route=\"calendar\",code=\"200\"}", Load(feed.calendar));
  w.Value("quorvane_http_requests_total{route=\"calendar\",code=\"304\"}",
          Load(feed.calendarNotModified));
  w.Value("quorvane_http_requests_total{route=\"status\",code=\"200\"}", Load(feed.status));
  w.Value("quorvane_http_requests_total{route=\"metrics\",code=\"200\"}", Load(feed.metrics));
  w.Value("quorvane_http_requests_total{route=\"other\",code=\"404\"}", Load(feed.notFound));
  w.Histogram("quorvane_calendar_build_seconds", "Time to read a group's days and build its feed.",
              feed.calendarLatency);
  WriteGroupGauges(w, groups);
  return w.Take();
}

}  // namespace qv::feed
