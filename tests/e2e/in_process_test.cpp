// Whole engines in-process, where a test needs to look inside or shorten a time limit.
#include <gtest/gtest.h>

#include <system_error>

#include "client/client.h"
#include "service/send_to_user.h"
#include "state/client_socket.h"
#include "support/test_server.h"

namespace qv::test {
namespace {

using client::Client;
using client::ClientOptions;

ClientOptions At(const std::string& address, int port, bool listen = true, int buffer = 0) {
  return ClientOptions{address, "127.0.0.1", port, listen, buffer};
}

TEST(Outgoing, RefusedConnectionIsTriedSixTimesWithReconnectFive) {
  IniConfig config;
  config.reconnect = 5;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  state::TMyNameUser& user = server.server().roster.groups[0].Users[0];
  std::atomic<int> refused{0};
  server.OnLoop([&] {
    auto& socket = *user.ClientSocket;
    socket.OnError = [&refused, original = socket.OnError](platform::TcpClient& s,
                                                           std::error_code& code) {
      if (code == std::errc::connection_refused) ++refused;
      original(s, code);
    };
    return 0;
  });
  Client alice(At("127.0.0.2", server.Port(), false));
  ASSERT_TRUE(alice.Connect());
  EXPECT_TRUE(alice.WaitRequestConnectionClosed(5s));
  ASSERT_TRUE(server.Log().WaitFor("Not respond:127.0.0.2", 2s)) << server.Log().All();
  EXPECT_EQ(refused, 6);  // the first attempt and five retries
  EXPECT_EQ(server.OnLoop([&] { return user.ReconnectCount; }), 0);
  EXPECT_FALSE(user.Connected);
}

TEST(Outgoing, HostThatDoesNotResolveIsReportedAndItsIncomingConnectionClosed) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  state::TMyNameUser& user = server.server().roster.groups[0].Users[0];
  server.OnLoop([&] {
    user.ClientSocket->SetAddress("");
    user.ClientSocket->SetHost("no-such-host.invalid");
    return 0;
  });
  Client alice(At("127.0.0.2", server.Port()));
  ASSERT_TRUE(alice.Connect());
  EXPECT_TRUE(alice.WaitRequestConnectionClosed(5s));
  EXPECT_TRUE(server.Log().WaitFor("Error! client socket:127.0.0.2 - Host not found.", 2s))
      << server.Log().All();
}

TEST(Outgoing, SecondConnectionOfAConnectedUserIsClosedAndSeenClosedWithoutWaiting) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  Client alice(At("127.0.0.2", server.Port()));
  ASSERT_TRUE(alice.Login()) << alice.Error();
  Client second(At("127.0.0.2", server.Port(), false));
  ASSERT_TRUE(second.Connect());
  ASSERT_TRUE(server.Log().WaitFor("Error! Double connection - 127.0.0.2", 2s))
      << server.Log().All();
  // A look with no time to wait still sees the close (a client polls this between accepts).
  bool closed = false;
  for (int i = 0; i < 200 && !closed; ++i) {
    closed = second.WaitRequestConnectionClosed(0ms);
    if (!closed) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(closed);
  EXPECT_TRUE(
      server.OnLoop([&] { return server.server().roster.groups[0].Users[0].Connected.load(); }));
  // The first connection survives the refused second one for 300 ms: this catches a server that
  // drops it while handling the refusal, not one that drops it later.
  EXPECT_FALSE(alice.WaitServerConnectionClosed(300ms));
}

TEST(Outgoing, ReconnectWhileTheOldOutgoingConnectionIsUpClosesBothThenSucceeds) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  InProcessServer server(config);
  server.Start();
  state::TMyNameUser& user = server.server().roster.groups[0].Users[0];
  auto first = std::make_unique<Client>(At("127.0.0.2", server.Port()));
  ASSERT_TRUE(first->Login()) << first->Error();
  // The server has lost sight of the client's first connection (the client restarted without
  // the old connection being seen to close), while its own connection to the client is up.
  server.OnLoop([&] {
    user.ServerSocketHandle = -1;
    return 0;
  });
  Client second(At("127.0.0.2", server.Port(), false));
  ASSERT_TRUE(second.Connect());
  EXPECT_TRUE(second.WaitRequestConnectionClosed(5s));
  EXPECT_TRUE(first->WaitServerConnectionClosed(5s));
  EXPECT_TRUE(server.Log().WaitFor("->Error Connect with 127.0.0.2", 2s)) << server.Log().All();
  EXPECT_FALSE(user.Connected);

  first.reset();
  Client third(At("127.0.0.2", server.Port()));
  ASSERT_TRUE(third.Login()) << third.Error() << server.Log().All();
  EXPECT_TRUE(user.Connected);
}

TEST(Sessions, ClientThatStopsReadingIsResetWhileOthersAreServed) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
  InProcessServer server(config);
  server.server().setup.timeouts.sendIdleLimit = 20;  // 20 x 10 ms instead of a minute
  server.Start();
  Client alice(At("127.0.0.2", server.Port(), true, 16384));
  ASSERT_TRUE(alice.Login()) << alice.Error();
  Client bob(At("127.0.0.3", server.Port()));
  ASSERT_TRUE(bob.Login()) << bob.Error();
  state::TMyNameUser& aliceUser = server.server().roster.groups[0].Users[0];
  state::TMyNameUser& bobUser = server.server().roster.groups[0].Users[1];

  // Far more than the connection can hold while alice reads nothing.
  std::vector<uint8_t> flood(24 << 20, 0x33);
  server.OnLoop([&] {
    service::SendToUser(server.server(), aliceUser, flood.data(),
                        static_cast<int32_t>(flood.size()));
    return 0;
  });
  EXPECT_TRUE(server.Log().WaitFor("Error of send process", 5s)) << server.Log().All();
  // The housekeeping tick closes alice's connection, which ends her session; her fault flag
  // follows her connected flag back to clear.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while ((aliceUser.Connected || aliceUser.Fault) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(aliceUser.Connected);
  EXPECT_FALSE(aliceUser.Fault);
  EXPECT_TRUE(alice.WaitRequestConnectionClosed(5s));
  EXPECT_TRUE(server.OnLoop([&] { return service::SendingIdle(server.server(), aliceUser); }));

  // Bob saw alice go and is still served.
  std::optional<client::Bytes> frame;
  bool sawAliceOffline = false;
  while (!sawAliceOffline && (frame = bob.ReceiveFrameWithCode(2000, 5s))) {
    sawAliceOffline = frame->size() == 94 && client::Int32At(*frame, 8) == 0 && (*frame)[13] == 'a';
  }
  EXPECT_TRUE(sawAliceOffline);
  const client::Bytes hello = client::Frame({9, 9, 9, 9});
  server.OnLoop([&] {
    service::SendToUser(server.server(), bobUser, hello.data(), static_cast<int32_t>(hello.size()));
    return 0;
  });
  frame = bob.ReceiveFrameWithCode(0x09090909, 5s);
  EXPECT_TRUE(frame);
  EXPECT_TRUE(bobUser.Connected);
  EXPECT_FALSE(bobUser.Fault);

  // Alice reconnects and is served again.
  alice.StopListening();
  Client aliceAgain(At("127.0.0.2", server.Port()));
  EXPECT_TRUE(aliceAgain.Login()) << aliceAgain.Error();
}

}  // namespace
}  // namespace qv::test
