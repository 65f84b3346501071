// A user's send queue: order, the byte limit, dropping, one drainer per user; and inside a whole
// server the limit faulting a user that never reads while the others go on.
#include <gtest/gtest.h>

#include "client/client.h"
#include "service/reply_sender.h"
#include "service/send_to_user.h"
#include "state/send_queue.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

service::QueuedPiece Piece(size_t length) {
  service::QueuedPiece piece;
  piece.bytes = std::make_shared<const std::vector<uint8_t>>(length, uint8_t{7});
  piece.length = length;
  return piece;
}

TEST(SendQueueTest, KeepsOrderStartsOneDrainerAndHoldsTheByteLimit) {
  service::SendQueue queue;
  uint64_t generation = 0;
  auto first = Piece(600);
  first.sequence = 1;
  EXPECT_EQ(queue.Add(first, 1000, generation), service::SendQueue::Added::QueuedStartDrainer);
  auto second = Piece(400);
  second.sequence = 2;
  uint64_t same = 0;
  EXPECT_EQ(queue.Add(second, 1000, same), service::SendQueue::Added::Queued);  // drainer runs
  EXPECT_EQ(same, generation);
  EXPECT_EQ(queue.Bytes(), 1000u);
  uint64_t unused = 0;
  EXPECT_EQ(queue.Add(Piece(1), 1000, unused), service::SendQueue::Added::OverCap);
  EXPECT_EQ(queue.Pieces(), 2u);  // the refused piece changed nothing

  service::QueuedPiece taken;
  ASSERT_TRUE(queue.Take(generation, taken));
  EXPECT_EQ(taken.sequence, 1);
  ASSERT_TRUE(queue.Take(generation, taken));
  EXPECT_EQ(taken.sequence, 2);
  EXPECT_TRUE(queue.Draining());
  EXPECT_FALSE(queue.Take(generation, taken));  // empty: the drainer's turn ends
  EXPECT_FALSE(queue.Draining());
  EXPECT_EQ(queue.Add(Piece(10), 1000, generation), service::SendQueue::Added::QueuedStartDrainer);

  // A drop ends the old drainer: it takes and records nothing more, a new one starts.
  const uint64_t old = generation;
  EXPECT_EQ(queue.Drop(), 1u);
  EXPECT_EQ(queue.Bytes(), 0u);
  EXPECT_FALSE(queue.Current(old));
  EXPECT_FALSE(queue.IfCurrent(old, [] {}));
  EXPECT_EQ(queue.Add(Piece(10), 1000, generation), service::SendQueue::Added::QueuedStartDrainer);
  EXPECT_NE(generation, old);
  EXPECT_FALSE(queue.Take(old, taken));
  EXPECT_TRUE(queue.Take(generation, taken));
}

TEST(SendQueueTest, AUserThatNeverReadsIsFaultedAtTheLimitWhileTheOthersKeepTheirSessions) {
  IniConfig config;
  config.checkIntervalMs = 0;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob", "127.0.0.4::carol"}};
  InProcessServer server(config);
  server.server().limits.sendQueueBytes = 1 << 20;
  server.Start();
  // Alice's receive buffer is small and she never reads.
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 4096});
  client::Client bob({"127.0.0.3", "127.0.0.1", server.Port(), true, 0});
  client::Client carol({"127.0.0.4", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  ASSERT_TRUE(bob.Login()) << bob.Error();
  ASSERT_TRUE(carol.Login()) << carol.Error();
  Server& s = server.server();
  TMyNameUser& aliceUser = s.groups[0].Users[0];
  TMyNameUser& bobUser = s.groups[0].Users[1];

  // 300 replies of 100 kB to the whole group: 30 MB for Alice, far over her limit.
  const std::vector<uint8_t> payload(100000, uint8_t{0x5a});
  struct Seen {
    size_t aliceBytes = 0;
    int32_t aliceIssued = 0;
  };
  size_t maxAliceBytes = 0;
  bool aliceFaulted = false;
  for (int i = 0; i < 300; ++i) {
    const Seen seen = server.OnLoop([&] {
      service::SendReplyPackage(s, bobUser, payload.data(), static_cast<int32_t>(payload.size()),
                                bobUser.HostName, service::kScopeGroup);
      Seen result;
      result.aliceBytes = aliceUser.Queue.Bytes();
      result.aliceIssued = aliceUser.SendIssued;
      return result;
    });
    maxAliceBytes = std::max(maxAliceBytes, seen.aliceBytes);
    if (aliceUser.Fault) {
      aliceFaulted = true;
      break;
    }
    // Bob and Carol read everything.
    ASSERT_TRUE(bob.ReceiveFrameWithCode(0x5a5a5a5a, 5s));
    ASSERT_TRUE(carol.ReceiveFrameWithCode(0x5a5a5a5a, 5s));
  }
  EXPECT_TRUE(aliceFaulted);
  EXPECT_LE(maxAliceBytes, s.limits.sendQueueBytes);
  EXPECT_TRUE(server.Log().WaitFor(
      "Error of send process - alice (127.0.0.2): more than 1048576 bytes waiting", 5s));
  // The housekeeping tick resets her connection: her session ends, the others keep theirs.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (server.OnLoop([&] { return aliceUser.Connected.load(); }) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(server.OnLoop([&] { return aliceUser.Connected.load(); }));
  EXPECT_EQ(server.OnLoop([&] { return aliceUser.Queue.Bytes(); }), 0u);
  EXPECT_TRUE(server.OnLoop([&] { return bobUser.Connected.load(); }));
}

}  // namespace
}  // namespace qv::test
