// Who may use the HTTP listener, and how often a refusal is logged.
#include "feed/peer_filter.h"

#include <gtest/gtest.h>

namespace qv::feed {
namespace {

using namespace std::chrono_literals;

TEST(PeerFilter, LoopbackUsersHostsAndAllowRangesOnly) {
  int lookups = 0;
  PeerFilter filter(
      {*config::ParseAddressRange("10.1.0.0/16"), *config::ParseAddressRange("192.168.5.7")},
      {"127.0.0.2", "pc7"}, [&](const std::string& address) {
        ++lookups;
        return address == "192.168.9.9" ? std::string("PC7") : std::string();
      });
  const auto t = PeerFilter::Clock::now();
  EXPECT_TRUE(filter.Allowed("127.0.0.1", t));
  EXPECT_TRUE(filter.Allowed("::ffff:127.0.0.1", t));
  EXPECT_TRUE(filter.Allowed("127.0.0.2", t));    // a user's dotted host
  EXPECT_TRUE(filter.Allowed("10.1.200.3", t));   // in a range
  EXPECT_TRUE(filter.Allowed("192.168.5.7", t));  // a single address
  EXPECT_EQ(lookups, 0);
  EXPECT_FALSE(filter.Allowed("127.0.0.3", t));  // loopback network, but not 127.0.0.1
  EXPECT_FALSE(filter.Allowed("10.2.0.1", t));
  EXPECT_FALSE(filter.Allowed("192.168.5.8", t));
  EXPECT_TRUE(filter.Allowed("192.168.9.9", t));  // reverse lookup names user host pc7
  EXPECT_FALSE(filter.Allowed("not an address", t));
  const int afterFirst = lookups;
  EXPECT_TRUE(filter.Allowed("192.168.9.9", t + 30s));  // the answer is kept a minute
  EXPECT_FALSE(filter.Allowed("127.0.0.3", t + 30s));
  EXPECT_EQ(lookups, afterFirst);
  EXPECT_FALSE(filter.Allowed("127.0.0.3", t + 61s));
  EXPECT_EQ(lookups, afterFirst + 1);
}

TEST(PeerFilter, ARefusalIsLoggedOncePerPeerPerMinute) {
  PeerFilter filter({}, {}, nullptr);
  const auto t = PeerFilter::Clock::now();
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.9", t));
  EXPECT_FALSE(filter.ShouldLogRefusal("127.0.0.9", t + 59s));
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.10", t + 59s));
  EXPECT_TRUE(filter.ShouldLogRefusal("127.0.0.9", t + 61s));
}

}  // namespace
}  // namespace qv::feed
