#pragma once
// Counters of the running server for the HTTP metrics page. Every field is an atomic updated
// with relaxed order on the paths that already exist (no lock, no allocation), and read by the
// feed's threads; a reading is therefore a set of values each exact for some moment.
#include <array>
#include <atomic>
#include <cstdint>

namespace qv::state {

// A latency histogram with fixed bucket bounds in microseconds (Prometheus "le" buckets).
class LatencyHistogram {
 public:
  static constexpr std::array<int64_t, 12> kBoundsUs = {
      100, 250, 500, 1000, 2500, 5000, 10000, 25000, 50000, 100000, 250000, 1000000};

  void Observe(int64_t micros) {
    size_t i = 0;
    while (i < kBoundsUs.size() && micros > kBoundsUs[i]) ++i;
    buckets_[i].fetch_add(1, std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
    sumUs_.fetch_add(micros < 0 ? 0 : micros, std::memory_order_relaxed);
  }
  // Observations in bucket i alone (i == kBoundsUs.size(): above the last bound).
  uint64_t Bucket(size_t i) const { return buckets_[i].load(std::memory_order_relaxed); }
  uint64_t Count() const { return count_.load(std::memory_order_relaxed); }
  int64_t SumUs() const { return sumUs_.load(std::memory_order_relaxed); }

 private:
  std::array<std::atomic<uint64_t>, kBoundsUs.size() + 1> buckets_{};
  std::atomic<uint64_t> count_{0};
  std::atomic<int64_t> sumUs_{0};
};

struct Metrics {
  using Counter = std::atomic<uint64_t>;
  static void Add(Counter& c, uint64_t n = 1) { c.fetch_add(n, std::memory_order_relaxed); }
  static void Max(std::atomic<int64_t>& m, int64_t v) {
    int64_t seen = m.load(std::memory_order_relaxed);
    while (v > seen && !m.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
    }
  }

  Counter connectionsAccepted{0};  // incoming connections handed to identification
  Counter framesIn{0};             // complete frames received
  Counter bytesIn{0};              // bytes received on incoming connections
  Counter framesOut{0};            // packages handed to the send path of a user
  Counter bytesOut{0};             // their bytes
  Counter editsAcknowledged{0};    // edit requests answered with an acknowledgment
  Counter forwardsSent{0};         // packages for the other members of a group (or everybody)
  Counter weekReads{0};            // days requests answered
  Counter mailStored{0};           // messages stored for a recipient
  Counter mailDelivered{0};        // messages sent to their recipient
  // Refusals by kind.
  Counter refusedRequests{0};     // data requests answered with the refusal package
  Counter refusedUnknownHost{0};  // connections from a host that is no user's
  Counter refusedMalformed{0};    // requests of a size no request has
  Counter refusedDouble{0};       // a second connection of a connected user
  Counter refusedHttp{0};         // HTTP requests of peers that may not use the feed
  Counter editsRefused{0};        // changes the record store refused (never acknowledged)
  Counter editsWriteFailed{0};    // changes that could not be written (never acknowledged)
  // Most bytes one user's send queue held at once.
  std::atomic<int64_t> sendQueueBytesMax{0};
  // Each journal sync of a group commit (none while SyncWrites is 0).
  Counter journalSyncs{0};
  LatencyHistogram journalSyncLatency;
  // Retired journal files emptied after the datafile was synced.
  Counter journalCheckpoints{0};
  // Bytes the groups' journals hold not yet durable or not yet written in place, summed (set by
  // the event thread after each group commit report).
  std::atomic<int64_t> journalPendingBytes{0};
  // From a request's complete frame to its acknowledgment being handed to the send path.
  LatencyHistogram ackLatency;
};

}  // namespace qv::state
