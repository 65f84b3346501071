// Admission under load: identifications in flight are bounded (further connections wait in the
// listen queue, no thread is made for them), and every admitted user joins the pending list at
// once, so many users connecting together all get their session at the next connect tick.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "client/client.h"
#include "net/outgoing.h"
#include "net/socket_window.h"
#include "platform/blocking_socket.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

// Strangers whose lookups never end: each address has one query at a time and its connection
// waits at most the lookup limit; connections beyond the identification slots are closed at
// once. A user known by dotted address is admitted at once all the same, and one known by name
// (whose address the resolver does answer) within the lookup limit, trying again while the slots
// are taken as its client would.
TEST(Admission, StrangersWithLookupsThatNeverAnswerStallNoLogin) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "named-host::bob"}};
  InProcessServer server(config);
  auto release = std::make_shared<std::atomic<bool>>(false);
  server.server().setup.limits.identificationsInFlight = 8;
  server.Start();
  server.OnLoop([&] {
    server.window()->ReverseLookups().SetResolver([release](const std::string& a) {
      if (a == "127.0.0.3") return std::string("named-host");
      for (int i = 0; i < 1000 && !release->load(); ++i) std::this_thread::sleep_for(10ms);
      return std::string();
    });
    return 0;
  });
  std::vector<std::unique_ptr<platform::BlockingSocket>> strangers;
  for (int i = 0; i < 100; ++i) {
    strangers.push_back(std::make_unique<platform::BlockingSocket>());
    ASSERT_TRUE(strangers.back()->Connect("127.0.2." + std::to_string(1 + i % 50), "127.0.0.1",
                                          server.Port(), 2s));
  }
  const auto start = std::chrono::steady_clock::now();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  ASSERT_TRUE(alice.Connect());
  ASSERT_TRUE(alice.AcceptServer(5s)) << alice.Error();
  const auto aliceIn = std::chrono::steady_clock::now() - start;
  // Bob is admitted once his connection is bound to him (his outgoing connection cannot be
  // made: his name resolves nowhere).
  auto bobAdmitted = [&] {
    return server.OnLoop([&] {
      return server.server().roster.groups[0].Users[1].ServerSocketHandle.load();
    }) != -1;
  };
  bool bobIn = false;
  std::vector<std::unique_ptr<platform::BlockingSocket>> bobTries;
  for (int attempt = 0; attempt < 30 && !bobIn; ++attempt) {
    bobTries.push_back(std::make_unique<platform::BlockingSocket>());
    ASSERT_TRUE(bobTries.back()->Connect("127.0.0.3", "127.0.0.1", server.Port(), 2s));
    for (int i = 0; i < 20 && !bobIn; ++i) {
      std::this_thread::sleep_for(10ms);
      bobIn = bobAdmitted();
    }
  }
  const auto bobTook = std::chrono::steady_clock::now() - start;
  std::printf(
      "behind 100 strangers: dotted address admitted after %.1f ms, named host after %.1f ms\n",
      std::chrono::duration<double, std::milli>(aliceIn).count(),
      std::chrono::duration<double, std::milli>(bobTook).count());
  EXPECT_LT(aliceIn, 100ms);
  EXPECT_TRUE(bobIn);
  EXPECT_LT(bobTook, 2500ms) << "the lookup limit is 2 s";
  release->store(true);
}

TEST(Admission, ManyUsersConnectingTogetherAllGetTheirSessionsAtOnce) {
  IniConfig config;
  config.groups = {{}};
  constexpr int kUsers = 40;
  for (int i = 0; i < kUsers; ++i) {
    config.groups[0].push_back("127.0.1." + std::to_string(i + 1) + "::user" + std::to_string(i));
  }
  InProcessServer server(config);
  server.Start();
  std::vector<std::unique_ptr<client::Client>> clients;
  for (int i = 0; i < kUsers; ++i) {
    clients.push_back(std::make_unique<client::Client>(client::ClientOptions{
        "127.0.1." + std::to_string(i + 1), "127.0.0.1", server.Port(), true, 0}));
    ASSERT_TRUE(clients.back()->Connect());
  }
  const auto start = std::chrono::steady_clock::now();
  for (auto& c : clients) {
    ASSERT_TRUE(c->AcceptServer(5s)) << c->Error();
    ASSERT_TRUE(c->ReceiveFrameWithCode(5000, 5s));
  }
  const auto took = std::chrono::steady_clock::now() - start;
  // One admission per 50 ms tick would take two seconds for 40 users.
  EXPECT_LT(took, 1s) << std::chrono::duration<double>(took).count() << " s";
  EXPECT_EQ(server.Log().Count("->Error Connect with"), 0);
  EXPECT_TRUE(server.OnLoop([&] { return server.server().roster.pendingList.empty(); }));
}

TEST(Admission, AUserAdmittedAgainWhileItsConnectionIsUnderWayIsTriedAfresh) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "named-host::bob"}};
  InProcessServer server(config);
  server.Start();
  platform::BlockingSocket callback;  // alice's client listening on port + 10
  ASSERT_TRUE(callback.Listen("127.0.0.2", server.Port() + 10));
  state::Server& s = server.server();
  state::TMyNameUser& alice = s.roster.groups[0].Users[0];
  // Two ticks for alice in one turn of the event loop: the second comes before the connect
  // event of the attempt the first one started.
  const bool activeBetween = server.OnLoop([&] {
    std::lock_guard sendLock(s.runtime.sendLock);
    s.roster.pendingList.push_back(&alice);
    net::ConnectTimerTick(s, *server.window());
    const bool active = alice.ClientSocket->Active();
    s.roster.pendingList.push_back(&alice);
    net::ConnectTimerTick(s, *server.window());
    return active;
  });
  EXPECT_FALSE(activeBetween);  // connecting is not active yet
  platform::BlockingSocket accepted;
  ASSERT_TRUE(callback.Accept(accepted, 5s));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!alice.Connected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(alice.Connected);
  std::this_thread::sleep_for(400ms);  // a housekeeping tick flushes the log
  EXPECT_EQ(server.Log().Count("->Error Connect with"), 0) << server.Log().All();
}

}  // namespace
}  // namespace qv::test
