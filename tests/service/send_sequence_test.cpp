// The send sequence inside a whole server: with direct send off every piece goes through the
// user's queue, in order, drained by one worker however many pieces wait.
#include <gtest/gtest.h>

#include "client/client.h"
#include "service/send_to_user.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

client::Bytes Pattern(size_t size, uint8_t seed) {
  client::Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
  return bytes;
}

TEST(SendSequence, WithoutDirectSendEveryPieceGoesThroughOneWorkerInOrder) {
  IniConfig config;
  config.directSend = 0;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.server().limits.sendQueueBytes = size_t{64} << 20;  // room for the 16 MiB piece
  server.Start();
  // A small receive buffer and no reading for now: the first piece cannot leave at once.
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 32768});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  TMyNameUser& user = server.server().groups[0].Users[0];
  // The status table and slot went out through workers too; wait until they are done.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!server.OnLoop([&] { return service::SendingIdle(user); }) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const int32_t before = server.OnLoop([&] { return user.SendIssued.load(); });
  ASSERT_GE(before, 1);

  const client::Bytes first = Pattern(16 << 20, 1), second = Pattern(3000, 2),
                      third = Pattern(100, 3);
  struct Seen {
    size_t workers = 0;
    size_t waiting = 0;
    int32_t issued = 0;
  };
  const Seen seen = server.OnLoop([&] {
    for (const auto* piece : {&first, &second, &third}) {
      const client::Bytes framed = client::Frame(*piece);
      service::SendToUser(server.server(), user, framed.data(),
                          static_cast<int32_t>(framed.size()));
    }
    Seen s;
    std::lock_guard lock(server.server().sendLock);
    s.workers = user.Workers.size();
    s.issued = user.SendIssued;
    s.waiting = user.Queue.Pieces();
    return s;
  });
  EXPECT_EQ(seen.issued, before + 3);
  EXPECT_EQ(seen.workers, 1u);  // one worker for the three pieces
  EXPECT_GE(seen.waiting, 2u);  // the second and third wait behind the first

  auto got = alice.ReceiveFrame(30s);
  while (got && client::Int32At(*got, 0) == 2000) got = alice.ReceiveFrame(30s);  // own slot
  ASSERT_TRUE(got);
  EXPECT_TRUE(*got == first);
  got = alice.ReceiveFrame(5s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, second);
  got = alice.ReceiveFrame(5s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, third);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (server.OnLoop([&] { return user.SendCompleted.load(); }) != before + 3 &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(server.OnLoop([&] { return user.SendCompleted.load(); }), before + 3);
  EXPECT_FALSE(user.Fault);
}

TEST(SendSequence, DirectSendToAnIdleUserStartsNoWorker) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  TMyNameUser& user = server.server().groups[0].Users[0];
  const client::Bytes piece = client::Frame(Pattern(1000, 4));
  const int32_t issued = server.OnLoop([&] {
    service::SendToUser(server.server(), user, piece.data(), static_cast<int32_t>(piece.size()));
    return user.SendIssued.load();
  });
  EXPECT_EQ(issued, 0);
  auto got = alice.ReceiveFrame(5s);
  while (got && client::Int32At(*got, 0) == 2000) got = alice.ReceiveFrame(5s);  // the slot
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, Pattern(1000, 4));
}

}  // namespace
}  // namespace qv::test
