#pragma once
// Who may use the HTTP listener besides the members (whom net::MemberByPeer names): 127.0.0.1
// and the [Feed] Allow ranges, which may read. Every other 127.x.y.z address is a peer like any
// other. Refusals are logged at most once per peer per minute. Safe to use from several threads.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/feed_settings.h"

namespace qv::feed {

class PeerFilter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kLogInterval = std::chrono::minutes(1);

  explicit PeerFilter(std::vector<config::AddressRange> allow);

  // 127.0.0.1 (or ::1) or an address in an Allow range.
  bool MayRead(const std::string& peer) const;
  // True when a refusal of this peer is to be logged now (then not again within a minute).
  bool ShouldLogRefusal(const std::string& peer, Clock::time_point now = Clock::now());

 private:
  std::vector<config::AddressRange> allow_;
  std::mutex mutex_;  // guards logged_
  std::map<std::string, Clock::time_point> logged_;
};

// "::ffff:a.b.c.d" to "a.b.c.d"; other texts unchanged.
std::string PlainIpv4(const std::string& peer);

}  // namespace qv::feed
