// Who may use the HTTP listener, and how often a refusal is logged.
#include "feed/peer_filter.h"

#include <gtest/gtest.h>

namespace qv::feed {
namespace {

using namespace std::chrono_literals;

TEST(PeerFilter, LoopbackAndAllowRangesMayRead) {
  PeerFilter filter(
      {*config::ParseAddressRange("10.1.0.0/16"), *config::ParseAddressRange("192.168.5.7")});
  EXPECT_TRUE(filter.MayRead("127.0.0.1"));
  EXPECT_TRUE(filter.MayRead("::ffff:127.0.0.1"));
  EXPECT_TRUE(filter.MayRead("10.1.200.3"));   // in a range
  EXPECT_TRUE(filter.MayRead("192.168.5.7"));  // a single address
  EXPECT_FALSE(filter.MayRead("127.0.0.3"));   // loopback network, but not 127.0.0.1
  EXPECT_FALSE(filter.MayRead("10.2.0.1"));
  EXPECT_FALSE(filter.MayRead("192.168.5.8"));
  EXPECT_FALSE(filter.MayRead("not an address"));
}

TEST(PeerFilter, ARefusalIsLoggedOncePerPeerPerMinute) {
  PeerFilter filter({});
  const auto t = PeerFilter::Clock::now();
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.9", t));
  EXPECT_FALSE(filter.ShouldLogRefusal("127.0.0.9", t + 59s));
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.10", t + 59s));
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.9", t + 61s));
}

}  // namespace
}  // namespace qv::feed
