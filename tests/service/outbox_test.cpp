// A user's outbox inside a whole server on real sockets: pieces and mail deliveries reach the
// client in the order they were given, the byte cap (held pieces included) faults the user, a
// session start begins afresh, and a reader that takes nothing is faulted without holding up
// anybody else or adding threads.
#include <gtest/gtest.h>

#include <dirent.h>

#include "client/client.h"
#include "platform/files.h"
#include "service/mailbox.h"
#include "service/send_to_user.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

client::Bytes Pattern(size_t size, uint8_t seed) {
  client::Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
  return bytes;
}

size_t ThreadsOfThisProcess() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

void Send(InProcessServer& server, state::TMyNameUser& user, const client::Bytes& payload) {
  const client::Bytes framed = client::Frame(payload);
  service::SendToUser(server.server(), user, framed.data(), static_cast<int32_t>(framed.size()));
}

void Drain(client::Client& c) {
  while (c.ReceiveFrame(200ms)) {
  }
}

TEST(Outbox, PiecesLeaveInOrderThroughTheWritableEventAndRestartBeginsAfresh) {
  IniConfig config;
  config.directSend = 0;  // every piece waits for the writable event
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  // A small receive buffer and no reading for now: the first piece cannot leave at once.
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 32768});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  Drain(alice);
  state::TMyNameUser& user = server.server().roster.groups[0].Users[0];

  const client::Bytes first = Pattern(3 << 20, 1), second = Pattern(3000, 2), third = Pattern(1, 3);
  const size_t threadsBefore = ThreadsOfThisProcess();
  const auto waiting = server.OnLoop([&] {
    const int32_t before = service::OutboxOf(server.server(), user).Issued();
    for (const auto* piece : {&first, &second, &third}) Send(server, user, *piece);
    const service::Outbox& outbox = service::OutboxOf(server.server(), user);
    return std::make_pair(outbox.Issued() - before, outbox.QueuedPieces());
  });
  EXPECT_EQ(waiting.first, 3);
  EXPECT_GE(waiting.second, 2u);  // the second and third wait behind the first
  EXPECT_LE(ThreadsOfThisProcess(), threadsBefore) << "no thread is started for waiting pieces";

  for (const auto* piece : {&first, &second, &third}) {
    auto got = alice.ReceiveFrame(10s);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, *piece);
  }
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!server.OnLoop([&] { return service::SendingIdle(server.server(), user); }) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const auto counts = server.OnLoop([&] {
    service::Outbox& outbox = service::OutboxOf(server.server(), user);
    return std::make_pair(outbox.Issued(), outbox.Completed());
  });
  EXPECT_EQ(counts.first, counts.second);
  EXPECT_FALSE(user.Fault);

  // A session start drops what waited (here behind a hold that is never released) and clears
  // the fault and the counts.
  const auto restarted = server.OnLoop([&] {
    service::Outbox& outbox = service::OutboxOf(server.server(), user);
    outbox.HoldUntil(~uint64_t{0});
    Send(server, user, second);
    user.Fault = true;
    const size_t queuedBefore = outbox.QueuedBytes();
    outbox.Restart();
    return std::make_tuple(queuedBefore, outbox.QueuedBytes(), outbox.Issued(), outbox.Holding(),
                           user.Fault.load());
  });
  EXPECT_EQ(std::get<0>(restarted), second.size() + 4);
  EXPECT_EQ(std::get<1>(restarted), 0u);
  EXPECT_EQ(std::get<2>(restarted), 0);
  EXPECT_FALSE(std::get<3>(restarted));
  EXPECT_FALSE(std::get<4>(restarted));
  server.OnLoop([&] {
    Send(server, user, third);
    return 0;
  });
  auto got = alice.ReceiveFrame(5s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, third);
}

TEST(Outbox, HeldPiecesCountAgainstTheCapAndFaultOnlyTheirUser) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
  InProcessServer server(config);
  server.server().setup.limits.sendQueueBytes = size_t{1} << 20;
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  client::Client bob({"127.0.0.3", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  ASSERT_TRUE(bob.Login()) << bob.Error();
  Drain(alice);
  Drain(bob);
  state::TMyNameUser& a = server.server().roster.groups[0].Users[0];
  state::TMyNameUser& b = server.server().roster.groups[0].Users[1];

  // Alice reads all the while, yet everything behind her unsynced acknowledgment is held.
  const client::Bytes piece = Pattern(400 << 10, 7);
  const auto held = server.OnLoop([&] {
    service::OutboxOf(server.server(), a).HoldUntil(~uint64_t{0});
    Send(server, a, piece);
    Send(server, a, piece);
    const size_t queued = service::OutboxOf(server.server(), a).QueuedBytes();
    const bool faultedAtTwo = a.Fault;
    Send(server, a, piece);  // past 1 MiB
    Send(server, b, piece);
    return std::make_tuple(queued, faultedAtTwo, a.Fault.load(),
                           service::OutboxOf(server.server(), a).QueuedBytes(), b.Fault.load());
  });
  EXPECT_EQ(std::get<0>(held), 2 * (piece.size() + 4));
  EXPECT_FALSE(std::get<1>(held));
  EXPECT_TRUE(std::get<2>(held));
  EXPECT_EQ(std::get<3>(held), 0u) << "the faulted user's queue is dropped";
  EXPECT_FALSE(std::get<4>(held));
  EXPECT_TRUE(
      server.Log().WaitFor("Error of send process - alice (127.0.0.2): more than 1048576 "
                           "bytes waiting",
                           5s))
      << server.Log().All();
  auto got = bob.ReceiveFrame(5s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, piece);
}

TEST(Outbox, MailIsDeliveredInItsTurnAndRemovedOnceItWent) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  Drain(alice);
  state::TMyNameUser& user = server.server().roster.groups[0].Users[0];

  // Two messages, the second larger than several read chunks, and a notice naming no file.
  const std::string pop3 = server.server().setup.pop3Dir;
  const client::Bytes small = Pattern(100, 1), large = Pattern(300000, 2);
  WriteFile(pop3 + "/m1.mqv", std::string(small.begin(), small.end()));
  WriteFile(pop3 + "/m2.mqv", std::string(large.begin(), large.end()));
  {
    platform::File box = platform::File::Open(server.server().MailboxPath("127.0.0.2"),
                                              platform::OpenMode::ReadWrite);
    service::AppendNotice(box, service::BuildNotice("dave", "127.0.0.5", "m1.mqv"));
    service::AppendNotice(box, service::BuildNotice("dave", "127.0.0.5", "gone.mqv"));
    service::AppendNotice(box, service::BuildNotice("dave", "127.0.0.5", "m2.mqv"));
    box.Close();
  }
  const client::Bytes before = Pattern(50, 8), after = Pattern(60, 9);
  server.OnLoop([&] {
    Send(server, user, before);
    service::QueueMailDelivery(server.server(), user);
    Send(server, user, after);  // waits for the delivery
    return 0;
  });
  auto frame = alice.ReceiveFrame(5s);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, before);
  frame = alice.ReceiveFrame(5s);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 8u);
  EXPECT_EQ(client::Int32At(*frame, 0), 6001);
  EXPECT_EQ(client::Int32At(*frame, 4), 2);
  for (const auto* body : {&small, &large}) {
    frame = alice.ReceiveFrame(5s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, *body);
  }
  frame = alice.ReceiveFrame(5s);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, after);

  const std::string mailbox = server.server().MailboxPath("127.0.0.2");
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (platform::FileSize(mailbox) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(platform::FileSize(mailbox), 0);
  EXPECT_FALSE(platform::FileExists(pop3 + "/m1.mqv"));
  EXPECT_FALSE(platform::FileExists(pop3 + "/m2.mqv"));
  EXPECT_TRUE(server.Log().WaitFor("Mail notice skipped (no such file): \"gone.mqv\"", 1s));
  EXPECT_FALSE(user.Fault);
}

TEST(Outbox, AReaderThatTakesNothingIsFaultedAfterTheSendTimeOutAndOthersAreServed) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
  InProcessServer server(config);
  server.server().setup.timeouts.sendIdleLimit = 60;  // 600 ms without progress
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 16384});
  client::Client bob({"127.0.0.3", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Login()) << alice.Error();
  ASSERT_TRUE(bob.Login()) << bob.Error();
  Drain(bob);
  state::TMyNameUser& a = server.server().roster.groups[0].Users[0];

  // Within the cap, far more than the connection holds while alice reads nothing.
  const client::Bytes flood = Pattern(6 << 20, 3), hello = Pattern(10, 4);
  const size_t threadsBefore = ThreadsOfThisProcess();
  const auto start = std::chrono::steady_clock::now();
  server.OnLoop([&] {
    Send(server, a, flood);
    Send(server, server.server().roster.groups[0].Users[1], hello);
    return 0;
  });
  auto got = bob.ReceiveFrame(2s);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, hello);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "bob waited for alice";
  EXPECT_LE(ThreadsOfThisProcess(), threadsBefore);
  EXPECT_FALSE(a.Fault);

  EXPECT_TRUE(server.Log().WaitFor("Error of send process", 10s)) << server.Log().All();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
  // The housekeeping tick closes alice's connection, which ends her session.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while ((a.Connected || a.Fault) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(a.Connected);
  EXPECT_TRUE(alice.WaitRequestConnectionClosed(5s));
}

}  // namespace
}  // namespace qv::test
