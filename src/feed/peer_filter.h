#pragma once
// Who may use the HTTP listener: 127.0.0.1, the configured users' hosts (a dotted address
// directly, a host name through the peer's reverse lookup, as admission matches users) and the
// [Feed] Allow ranges. Every other 127.x.y.z address is a peer like any other. Refusals are
// logged at most once per peer per minute. Safe to use from several threads.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/feed_settings.h"

namespace qv::feed {

class PeerFilter {
 public:
  using Clock = std::chrono::steady_clock;
  using ReverseLookup = std::function<std::string(const std::string& dottedAddress)>;
  static constexpr auto kLogInterval = std::chrono::minutes(1);
  static constexpr auto kLookupKept = std::chrono::minutes(1);

  // userHosts: the valid users' hosts, lower case.
  PeerFilter(std::vector<config::AddressRange> allow, std::vector<std::string> userHosts,
             ReverseLookup lookup);

  bool Allowed(const std::string& peer, Clock::time_point now = Clock::now());
  // True when a refusal of this peer is to be logged now (then not again within a minute).
  bool ShouldLogRefusal(const std::string& peer, Clock::time_point now = Clock::now());

 private:
  bool IsUserHost(const std::string& host) const;

  std::vector<config::AddressRange> allow_;
  std::vector<std::string> userHosts_;
  ReverseLookup lookup_;
  std::mutex mutex_;  // guards the two maps
  struct Lookup {
    bool user = false;
    Clock::time_point at;
  };
  std::map<std::string, Lookup> lookups_;
  std::map<std::string, Clock::time_point> logged_;
};

// "::ffff:a.b.c.d" to "a.b.c.d"; other texts unchanged.
std::string PlainIpv4(const std::string& peer);

}  // namespace qv::feed
