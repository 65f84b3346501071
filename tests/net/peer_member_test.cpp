// Which user a peer is: its dotted address first, else its reverse name.
#include "net/peer_member.h"

#include <gtest/gtest.h>

#include "support/test_server.h"

namespace qv::net {
namespace {

TEST(PeerMember, DottedAddressFirstThenReverseName) {
  test::IniConfig config;
  config.groups = {{"127.0.0.2::alice", "pc7::bob"}, {"127.0.0.4::carol"}};
  test::InProcessServer engine(config);
  engine.Start();
  state::Server& server = engine.server();
  state::TMyNameUser* alice = MemberByPeer(server, "127.0.0.2", "");
  ASSERT_NE(alice, nullptr);
  EXPECT_EQ(alice->UserName, "alice");
  EXPECT_EQ(MemberByPeer(server, "127.0.0.2", "pc7"), alice);  // the address decides first
  state::TMyNameUser* bob = MemberByPeer(server, "10.0.0.7", "PC7");
  ASSERT_NE(bob, nullptr);
  EXPECT_EQ(bob->UserName, "bob");
  state::TMyNameUser* carol = MemberByPeer(server, "127.0.0.4", "");
  ASSERT_NE(carol, nullptr);
  EXPECT_EQ(carol->GroupIndex, 1);
  EXPECT_EQ(MemberByPeer(server, "10.0.0.8", ""), nullptr);
  EXPECT_EQ(MemberByPeer(server, "10.0.0.8", "pc8"), nullptr);
  EXPECT_TRUE(AnyHostIsAName(server));
  engine.Stop();
}

TEST(PeerMember, NoLookupIsNeededWhenEveryHostIsAnAddress) {
  test::IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  test::InProcessServer engine(config);
  engine.Start();
  EXPECT_FALSE(AnyHostIsAName(engine.server()));
  engine.Stop();
}

}  // namespace
}  // namespace qv::net
