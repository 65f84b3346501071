// The socket layer on a PollLoop run by the test thread.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/blocking_socket.h"
#include "platform/poll_loop.h"
#include "platform/socket.h"
#include "platform/system_error.h"
#include "support/test_server.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;
using test::RunUntil;

// CPU time the calling thread has used.
std::chrono::nanoseconds ThreadCpuTime() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Lowers the soft descriptor limit to a few above what is open and takes every free descriptor;
// gives them back (and the old limit) when it goes.
class DescriptorsExhausted {
 public:
  DescriptorsExhausted() {
    ::getrlimit(RLIMIT_NOFILE, &old_);
    size_t open = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
      ++open;
    }
    rlimit lowered = old_;
    lowered.rlim_cur = std::min<rlim_t>(old_.rlim_cur, open + 64);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int i = 0; i < 200; ++i) {
      const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      fillers_.push_back(fd);
    }
  }
  ~DescriptorsExhausted() {
    Free();
    ::setrlimit(RLIMIT_NOFILE, &old_);
  }
  bool Exhausted() const {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == EMFILE;
  }
  void Free() {
    for (const int fd : fillers_) ::close(fd);
    fillers_.clear();
  }

 private:
  rlimit old_{};
  std::vector<int> fillers_;
};

bool Connect(int fd, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

TEST(TcpListener, OutOfDescriptorsRefusesWaitingConnectionsWithoutSpinningAndServesAgainLater) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime's type checks open /proc/self/maps; in a process without a free
  // descriptor they fail and report errors of their own before the server code runs.
  GTEST_SKIP()
      << "needs a process without free descriptors, which the sanitizer runtime cannot use";
#endif
  PollLoop loop;
  TcpListener listener(loop);
  listener.Open(0, "127.0.0.1");
  const int port = listener.LocalPort();
  int accepted = 0;
  std::vector<std::error_code> limitErrors;
  listener.OnClientConnect = [&](const std::shared_ptr<TcpConnection>&) { ++accepted; };
  listener.OnAcceptLimit = [&](std::error_code error) { limitErrors.push_back(error); };
  // Client sockets are made before the descriptors run out: connecting needs none.
  constexpr int kClients = 20;
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    clients.push_back(fd);
  }
  {
    DescriptorsExhausted exhausted;
    ASSERT_TRUE(exhausted.Exhausted());
    // A client keeps connecting for most of a second while the loop runs for one second.
    std::thread connector([&] {
      for (const int fd : clients) {
        Connect(fd, port);
        std::this_thread::sleep_for(40ms);
      }
    });
    const auto before = ThreadCpuTime();
    const auto quit = loop.AddTimer(1000, true, [&] { loop.Quit(); });
    loop.Run();
    const auto used = ThreadCpuTime() - before;
    loop.RemoveTimer(quit);
    connector.join();
    // A loop spinning on the readable listener would use the whole second.
    EXPECT_LT(used, 300ms) << "event thread CPU while out of descriptors";
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(limitErrors, std::vector<std::error_code>{SystemError(EMFILE)})
        << "reported once, not per connection";
    // Every waiting connection was taken off the queue and closed.
    int refused = 0;
    for (const int fd : clients) {
      pollfd p{fd, POLLIN, 0};
      char byte;
      if (::poll(&p, 1, 2000) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) ++refused;
    }
    EXPECT_EQ(refused, kClients);
    exhausted.Free();
  }
  for (const int fd : clients) ::close(fd);
  // Descriptors are free again: the next connection is served.
  const int late = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(late, 0);
  ASSERT_TRUE(Connect(late, port));
  EXPECT_TRUE(RunUntil(
      loop, [&] { return accepted == 1; }, 5s));
  ::close(late);
}

TEST(TcpClient, RefusedAndUnresolvedConnectionsReportTheirErrorWhileStillNamed) {
  PollLoop loop;
  const int port = test::FreePortPair();
  auto client = std::make_shared<TcpClient>(loop);
  client->SetHost("127.0.0.1");
  client->SetAddress("127.0.0.1");
  client->SetPort(port);
  std::vector<std::error_code> codes;
  std::vector<int32_t> handles;
  client->OnError = [&](TcpClient& socket, std::error_code& code) {
    codes.push_back(code);
    handles.push_back(socket.Handle());
    code.clear();
  };
  client->Open();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return !codes.empty(); }, 5s));
  EXPECT_EQ(codes[0], std::errc::connection_refused);
  EXPECT_NE(handles[0], -1);
  EXPECT_FALSE(client->Active());
  EXPECT_EQ(client->Handle(), -1);

  client->SetAddress("");
  client->SetHost("no-such-host.invalid");
  client->Open();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return codes.size() == 2; }, 10s));
  EXPECT_EQ(&codes[1].category(), &ResolverCategory()) << codes[1].message();
  EXPECT_FALSE(client->Active());
}

TEST(TcpClient, CountsAsActiveOnlyFromItsConnectEvent) {
  PollLoop loop;
  BlockingSocket peerListener;
  ASSERT_TRUE(peerListener.Listen("127.0.0.1", 0));
  auto client = std::make_shared<TcpClient>(loop);
  client->SetAddress("127.0.0.1");
  client->SetPort(peerListener.LocalPort());
  bool connected = false;
  client->OnConnect = [&](TcpClient& socket) { connected = socket.Active(); };
  client->Open();
  // The attempt is under way, but its connect event has not been raised yet.
  EXPECT_TRUE(client->Opened());
  EXPECT_FALSE(client->Active());
  EXPECT_NE(client->Handle(), -1);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return connected; }, 5s));
  EXPECT_TRUE(client->Active());
  client->Close();
  EXPECT_FALSE(client->Active());
  EXPECT_FALSE(client->Opened());
}

TEST(TcpListener, AClosedAcceptGateLeavesConnectionsInTheListenQueueUntilResumed) {
  PollLoop loop;
  TcpListener listener(loop);
  bool open = false;
  int accepted = 0;
  listener.AcceptGate = [&] { return open; };
  listener.OnClientConnect = [&](const std::shared_ptr<TcpConnection>&) { ++accepted; };
  listener.Open(0, "127.0.0.1");
  BlockingSocket first, second;
  ASSERT_TRUE(first.Connect("127.0.0.1", "127.0.0.1", listener.LocalPort(), 2s));
  ASSERT_TRUE(second.Connect("127.0.0.1", "127.0.0.1", listener.LocalPort(), 2s));
  EXPECT_FALSE(RunUntil(
      loop, [&] { return accepted > 0; }, 200ms));
  EXPECT_EQ(listener.ActiveConnections(), 0u);
  open = true;
  loop.Post([&] { listener.ResumeAccepting(); });
  EXPECT_TRUE(RunUntil(
      loop, [&] { return accepted == 2; }, 2s));
  listener.Close();
}

TEST(TcpClient, ConnectsSendsAndRaisesDisconnectBeforeItsHandleGoes) {
  PollLoop loop;
  BlockingSocket peerListener;
  ASSERT_TRUE(peerListener.Listen("127.0.0.1", 0));
  auto client = std::make_shared<TcpClient>(loop);
  client->SetAddress("127.0.0.1");
  client->SetPort(peerListener.LocalPort());
  bool connected = false;
  int32_t handleAtDisconnect = -2;
  client->OnConnect = [&](TcpClient&) { connected = true; };
  client->OnDisconnect = [&](TcpClient& s) { handleAtDisconnect = s.Handle(); };
  client->Open();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return connected; }, 5s));
  BlockingSocket peer;
  ASSERT_TRUE(peerListener.Accept(peer, 5s));
  std::error_code error = std::make_error_code(std::errc::io_error);
  EXPECT_EQ(client->SendBuf("abc", 3, error), 3);
  EXPECT_FALSE(error) << error.message();
  char buffer[8] = {};
  EXPECT_EQ(peer.ReceiveSome(buffer, sizeof buffer, 2s), 3);
  const int32_t handle = client->Handle();
  EXPECT_NE(handle, -1);

  peer.Close();  // the peer goes: the disconnect event comes with the handle still valid
  ASSERT_TRUE(RunUntil(
      loop, [&] { return handleAtDisconnect != -2; }, 5s));
  EXPECT_EQ(handleAtDisconnect, handle);
  EXPECT_FALSE(client->Active());
  EXPECT_EQ(client->SendBuf("x", 1, error), 0);  // not connected: nothing, no error
  EXPECT_FALSE(error) << error.message();
}

TEST(TcpClient, SendsMarkedAsFollowedAreHeldUntilTheLastOfTheRunPushesThemOut) {
  PollLoop loop;
  BlockingSocket peerListener;
  ASSERT_TRUE(peerListener.Listen("127.0.0.1", 0));
  auto client = std::make_shared<TcpClient>(loop);
  client->SetAddress("127.0.0.1");
  client->SetPort(peerListener.LocalPort());
  bool connected = false;
  client->OnConnect = [&](TcpClient&) { connected = true; };
  client->Open();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return connected; }, 5s));
  BlockingSocket peer;
  ASSERT_TRUE(peerListener.Accept(peer, 5s));
  client->SetNoDelay(true);  // as the server's sockets: only the flag holds the bytes back

  std::error_code error = std::make_error_code(std::errc::io_error);
  EXPECT_EQ(client->SendBuf("abc", 3, error, true), 3);
  EXPECT_FALSE(error) << error.message();
  char buffer[16] = {};
  // Marked as followed: the bytes wait for the rest of their run.
  EXPECT_EQ(peer.ReceiveSome(buffer, sizeof buffer, 100ms), -1);
  EXPECT_EQ(client->SendBuf("defg", 4, error, false), 4);
  size_t got = 0;
  while (got < 7) {
    const long n = peer.ReceiveSome(buffer + got, sizeof buffer - got, 2s);
    ASSERT_GT(n, 0);
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::string(buffer, got), "abcdefg");
}

TEST(TcpListener, CountsConnectionsAndClosesThemWithDisconnectEvents) {
  PollLoop loop;
  TcpListener listener(loop);
  listener.Open(0, "127.0.0.1");
  std::vector<std::shared_ptr<TcpConnection>> accepted;
  std::vector<int32_t> disconnected;
  int readEvents = 0;
  listener.OnClientConnect = [&](const std::shared_ptr<TcpConnection>& c) {
    accepted.push_back(c);
  };
  listener.OnClientDisconnect = [&](TcpConnection& c) {
    EXPECT_TRUE(c.Connected());
    disconnected.push_back(c.Handle());
  };
  listener.OnClientRead = [&](TcpConnection& c) {
    ++readEvents;
    char buffer[16];
    EXPECT_EQ(c.ReceiveLength(), 5);
    EXPECT_EQ(c.ReceiveBuf(buffer, sizeof buffer), 5);
  };
  BlockingSocket a, b;
  ASSERT_TRUE(a.Connect("127.0.0.2", "127.0.0.1", listener.LocalPort(), 2s));
  ASSERT_TRUE(b.Connect("127.0.0.3", "127.0.0.1", listener.LocalPort(), 2s));
  ASSERT_TRUE(RunUntil(
      loop, [&] { return accepted.size() == 2; }, 5s));
  EXPECT_EQ(listener.ActiveConnections(), 2u);
  EXPECT_EQ(accepted[0]->PeerAddress(), "127.0.0.2");
  EXPECT_EQ(accepted[1]->PeerAddress(), "127.0.0.3");
  EXPECT_NE(accepted[0]->Handle(), accepted[1]->Handle());
  ASSERT_TRUE(a.SendAll("hello", 5));
  ASSERT_TRUE(RunUntil(
      loop, [&] { return readEvents == 1; }, 5s));

  a.Close();  // the peer's close: disconnect event, removed from the list
  ASSERT_TRUE(RunUntil(
      loop, [&] { return disconnected.size() == 1; }, 5s));
  EXPECT_EQ(listener.ActiveConnections(), 1u);
  EXPECT_EQ(accepted[0]->Handle(), -1);
  const int32_t second = accepted[1]->Handle();
  EXPECT_TRUE(listener.FindByHandle(second) != nullptr);
  listener.Close();  // closes the rest, each with its event
  ASSERT_EQ(disconnected.size(), 2u);
  EXPECT_EQ(disconnected[1], second);
  EXPECT_EQ(listener.ActiveConnections(), 0u);
  EXPECT_FALSE(listener.Active());
}

}  // namespace
}  // namespace qv::platform
