#pragma once
// The server's counters in the Prometheus text exposition format (version 0.0.4).
#include <cstdint>
#include <string>

#include "state/metrics.h"

namespace qv::feed {

struct FeedCounters;

// sessions: users with a session now.
std::string RenderMetrics(const Metrics& metrics, int64_t sessions, const FeedCounters& feed);

// Requests the HTTP listener itself served, by route.
struct FeedCounters {
  Metrics::Counter calendar{0};
  Metrics::Counter calendarNotModified{0};
  Metrics::Counter status{0};
  Metrics::Counter metrics{0};
  Metrics::Counter notFound{0};
  LatencyHistogram calendarLatency;
};

}  // namespace qv::feed
