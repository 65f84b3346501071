// An acknowledgment that waits for its journal sync holds back what is queued behind it for the
// same user only: that user receives everything in the order it was sent, once the sync is done;
// another user receives at once.
#include <gtest/gtest.h>

#include "client/client.h"
#include "service/durable_acks.h"
#include "service/send_to_user.h"
#include "store/journal.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

client::Bytes Piece(uint8_t tag) {
  return client::Bytes(100, tag);
}

TEST(DurableAcks, HeldAcknowledgmentKeepsTheUsersOrderAndHoldsNobodyElse) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
  InProcessServer server(config);
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  client::Client bob({"127.0.0.3", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  ASSERT_TRUE(bob.Login()) << bob.Error();
  while (alice.ReceiveFrame(200ms)) {
  }
  while (bob.ReceiveFrame(200ms)) {
  }

  auto journal =
      std::make_shared<store::DayJournal>(store::RealFiles(), server.Dir() + "/team.qdb.jnl");
  auto acks = std::make_shared<service::DurableAcks>(server.server());
  state::TMyNameUser& a = server.server().roster.groups[0].Users[0];
  state::TMyNameUser& b = server.server().roster.groups[0].Users[1];
  const std::pair<size_t, size_t> held = server.OnLoop([&] {
    wire::DayRecord day{};
    wire::SetDayDate(day, 45000);
    journal->Append(0, 45000, day);
    auto send = [&](state::TMyNameUser& user, uint8_t tag) {
      const client::Bytes framed = client::Frame(Piece(tag));
      service::SendToUser(server.server(), user, framed.data(),
                          static_cast<int32_t>(framed.size()));
    };
    send(a, 1);  // before the edit: leaves at once
    acks->HoldUntilSynced(a, journal);
    send(a, 2);  // the acknowledgment
    send(b, 9);  // a forward to another user
    send(a, 3);  // a forward of a later edit
    return std::make_pair(service::OutboxOf(server.server(), a).QueuedPieces(),
                          service::OutboxOf(server.server(), b).QueuedPieces());
  });
  EXPECT_EQ(held.first, 3u) << "the hold, the acknowledgment and the later forward";
  EXPECT_EQ(held.second, 0u) << "another user is not held up";

  for (uint8_t tag : {1, 2, 3}) {
    auto got = alice.ReceiveFrame(5s);
    ASSERT_TRUE(got) << int(tag);
    EXPECT_EQ(*got, Piece(tag));
  }
  auto got = bob.ReceiveFrame(5s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, Piece(9));
  EXPECT_EQ(server.OnLoop([&] { return service::OutboxOf(server.server(), a).QueuedPieces(); }),
            0u);
  server.OnLoop([&] {
    acks.reset();  // stops the sync thread on the loop that its reports go to
    return 0;
  });
}

}  // namespace
}  // namespace qv::test
