#include "feed/peer_filter.h"

#include <algorithm>

namespace qv::feed {
namespace {

constexpr uint32_t kLoopback = 0x7F000001u;  // 127.0.0.1
constexpr size_t kMaxRemembered = 4096;      // peers remembered at most (then forgotten)

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::string PlainIpv4(const std::string& peer) {
  static const std::string kMapped = "::ffff:";
  if (peer.size() > kMapped.size() && Lower(peer.substr(0, kMapped.size())) == kMapped) {
    return peer.substr(kMapped.size());
  }
  return peer;
}

PeerFilter::PeerFilter(std::vector<config::AddressRange> allow, std::vector<std::string> userHosts,
                       ReverseLookup lookup)
    : allow_(std::move(allow)), userHosts_(std::move(userHosts)), lookup_(std::move(lookup)) {}

bool PeerFilter::IsUserHost(const std::string& host) const {
  const std::string lower = Lower(host);
  return !lower.empty() &&
         std::find(userHosts_.begin(), userHosts_.end(), lower) != userHosts_.end();
}

bool PeerFilter::Allowed(const std::string& peerText, Clock::time_point now) {
  const std::string peer = PlainIpv4(peerText);
  const auto address = config::ParseIpv4(peer);
  if (!address) return peer == "::1";
  if (*address == kLoopback) return true;
  for (const config::AddressRange& range : allow_) {
    if (range.Contains(*address)) return true;
  }
  if (IsUserHost(peer)) return true;
  if (!lookup_) return false;
  {
    std::lock_guard lock(mutex_);
    const auto it = lookups_.find(peer);
    if (it != lookups_.end() && now - it->second.at < kLookupKept) return it->second.user;
  }
  // The lookup may take a while: no lock is held meanwhile.
  const bool user = IsUserHost(lookup_(peer));
  std::lock_guard lock(mutex_);
  if (lookups_.size() >= kMaxRemembered) lookups_.clear();
  lookups_[peer] = {user, now};
  return user;
}

bool PeerFilter::ShouldLogRefusal(const std::string& peer, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto it = logged_.find(peer);
  if (it != logged_.end() && now - it->second < kLogInterval) return false;
  if (logged_.size() >= kMaxRemembered) logged_.clear();
  logged_[peer] = now;
  return true;
}

}  // namespace qv::feed
