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

PeerFilter::PeerFilter(std::vector<config::AddressRange> allow) : allow_(std::move(allow)) {}

bool PeerFilter::MayRead(const std::string& peerText) const {
  const std::string peer = PlainIpv4(peerText);
  const auto address = config::ParseIpv4(peer);
  if (!address) return peer == "::1";
  if (*address == kLoopback) return true;
  for (const config::AddressRange& range : allow_) {
    if (range.Contains(*address)) return true;
  }
  return false;
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
