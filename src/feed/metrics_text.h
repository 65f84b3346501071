#pragma once
// The server's counters in the Prometheus text exposition format (version 0.0.4).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_figures.h"
#include "state/metrics.h"

namespace qv::state {
struct Server;
}

namespace qv::feed {

struct FeedCounters;

// One group's gauges.
struct GroupGauges {
  std::string Alias;  // UTF-8
  int64_t Days = 0;   // day records in the datafile
  int64_t DatafileBytes = 0;
  int64_t MembersOnLine = 0;
};

// sessions: users with a session now. Build information and the process figures (when /proc
// could be read) come with the counters; then each group's gauges.
std::string RenderMetrics(
    const state::Metrics& metrics, int64_t sessions, const FeedCounters& feed,
    const std::vector<GroupGauges>& groups = {},
    const std::optional<platform::ProcessFigures>& process = platform::ReadProcessFigures());

// The gauges of the server's groups; aliases are the groups' names in UTF-8, by group index.
// A datafile that cannot be read counts as empty.
std::vector<GroupGauges> CollectGroupGauges(state::Server& server,
                                            const std::vector<std::string>& aliases);

// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(const std::string& value);

// Requests the HTTP listener itself served, by route.
struct FeedCounters {
  state::Metrics::Counter calendar{0};
  state::Metrics::Counter calendarNotModified{0};
  state::Metrics::Counter status{0};
  state::Metrics::Counter metrics{0};
  state::Metrics::Counter notFound{0};
  state::LatencyHistogram calendarLatency;
};

}  // namespace qv::feed
