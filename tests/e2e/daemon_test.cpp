// The real daemon with clients on loopback addresses.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/client.h"
#include "e2e/daemon.h"

namespace qv::test {
namespace {

using client::Bytes;
using client::Client;
using client::ClientOptions;

struct Slot {
  int32_t online = -1;
  std::string user, host;
};

Slot ReadSlot(const Bytes& bytes, size_t at) {
  Slot slot;
  if (at + 86 > bytes.size()) return slot;
  slot.online = client::Int32At(bytes, at);
  slot.user.assign(reinterpret_cast<const char*>(&bytes[at + 5]),
                   std::min<size_t>(bytes[at + 4], 50));
  slot.host.assign(reinterpret_cast<const char*>(&bytes[at + 56]),
                   std::min<size_t>(bytes[at + 55], 30));
  return slot;
}

// The next status slot change (2000/3) the client receives.
std::optional<Slot> NextSlotChange(Client& client, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto frame = client.ReceiveFrameWithCode(2000, left);
    if (!frame) return std::nullopt;
    if (frame->size() == 94 && client::Int32At(*frame, 4) == 3) return ReadSlot(*frame, 8);
  }
}

ClientOptions At(const std::string& address, int port, bool listen = true) {
  return ClientOptions{address, "127.0.0.1", port, listen, 0};
}

// User plus system CPU time of a process, in clock ticks (fields 14 and 15 of /proc/<pid>/stat).
long ProcessCpuTicks(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), {});
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index >= 14) ticks += std::stol(field);
  }
  return ticks;
}

TEST(Daemon, AtTheDescriptorLimitStaysIdleWhileClientsConnectAndServesOnceDescriptorsFree) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime's type checks open /proc/self/maps; in a process without a free
  // descriptor they fail and report errors of their own before the server code runs.
  GTEST_SKIP()
      << "needs a process without free descriptors, which the sanitizer runtime cannot use";
#endif
  IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  Daemon daemon(config);
  ASSERT_TRUE(daemon.Start()) << daemon.Output();
  const pid_t pid = daemon.Pid();
  // The lowest free descriptor number becomes the limit: every accept fails with EMFILE.
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  int lowestFree = 0;
  while (lowestFree < 1000 && std::filesystem::exists(fds + std::to_string(lowestFree))) {
    ++lowestFree;
  }
  rlimit old{};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &old), 0);
  rlimit lowered = old;
  lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &lowered, nullptr), 0);

  // A client keeps connecting for two seconds.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(daemon.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const long before = ProcessCpuTicks(pid);
  const auto end = std::chrono::steady_clock::now() + 2s;
  int connected = 0;
  while (std::chrono::steady_clock::now() < end) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) ++connected;
    ::close(fd);
    std::this_thread::sleep_for(10ms);
  }
  const long used = ProcessCpuTicks(pid) - before;
  EXPECT_GT(connected, 20);
  // An event thread spinning on the readable listener would use most of the two seconds.
  EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) / 5) << "CPU ticks of the daemon at the limit";
  const std::string report = "Connections refused: out of file descriptors";
  EXPECT_TRUE(daemon.WaitForOutput(report, 2s)) << daemon.Output();
  EXPECT_EQ(daemon.Count(report), 1);

  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &old, nullptr), 0);
  Client alice(At("127.0.0.2", daemon.Port()));
  ASSERT_TRUE(alice.Login()) << alice.Error() << daemon.Output();
}

TEST(Daemon, AdmitsByAddressAndNameBroadcastsStatusAndEndsSessionsOnce) {
  IniConfig config;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}, {"LocalHost::carol"}};
  Daemon daemon(config);
  ASSERT_TRUE(daemon.Start()) << daemon.Output();

  Client alice(At("127.0.0.2", daemon.Port()));
  auto table = alice.Login();
  ASSERT_TRUE(table) << alice.Error() << daemon.Output();
  ASSERT_EQ(table->size(), 4u + 3 * 86);
  EXPECT_EQ(client::Int32At(*table, 0), 5000);
  Slot s = ReadSlot(*table, 4);
  EXPECT_EQ(s.online, 1);
  EXPECT_EQ(s.user, "alice");
  EXPECT_EQ(s.host, "127.0.0.2");
  EXPECT_EQ(ReadSlot(*table, 90).online, 0);
  EXPECT_EQ(ReadSlot(*table, 176).host, "localhost");  // stored in lower case
  auto change = NextSlotChange(alice, 5s);             // her own slot reaches everybody, her too
  ASSERT_TRUE(change);
  EXPECT_EQ(change->user, "alice");

  Client bob(At("127.0.0.3", daemon.Port()));
  table = bob.Login();
  ASSERT_TRUE(table) << bob.Error();
  EXPECT_EQ(ReadSlot(*table, 4).online, 1);
  EXPECT_EQ(ReadSlot(*table, 90).online, 1);
  change = NextSlotChange(alice, 5s);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->user, "bob");
  EXPECT_EQ(change->online, 1);

  // Configured by name: admitted through the reverse lookup of 127.0.0.1, case ignored.
  Client carol(At("127.0.0.1", daemon.Port()));
  ASSERT_TRUE(carol.Login()) << carol.Error() << daemon.Output();
  change = NextSlotChange(alice, 5s);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->user, "carol");
  EXPECT_EQ(change->online, 1);

  // An unknown peer is refused and named in the log.
  Client intruder(At("127.0.0.9", daemon.Port(), false));
  ASSERT_TRUE(intruder.Connect());
  EXPECT_TRUE(intruder.WaitRequestConnectionClosed(5s));
  EXPECT_TRUE(daemon.WaitForOutput(
      "Incorrect connection! Illegal user from [127.0.0.9 ] or incorrect settings at server.", 5s))
      << daemon.Output();

  // Bob leaves by closing his connection to the server: the server closes its connection to
  // him, and his slot goes off line once.
  bob.CloseRequestConnection();
  EXPECT_TRUE(bob.WaitServerConnectionClosed(5s));
  change = NextSlotChange(alice, 5s);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->user, "bob");
  EXPECT_EQ(change->online, 0);

  // Carol's side goes the other way: she closes the server's connection to her; the server
  // closes hers, and again one broadcast.
  carol.CloseServerConnection();
  EXPECT_TRUE(carol.WaitRequestConnectionClosed(5s));
  change = NextSlotChange(alice, 5s);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->user, "carol");
  EXPECT_EQ(change->online, 0);
  // No second end for either session within 700 ms: catches a duplicate broadcast sent with the
  // first (they leave in the same tick), not one that would come much later.
  EXPECT_FALSE(NextSlotChange(alice, 700ms));

  // Bob comes back and is served again.
  Client bobAgain(At("127.0.0.3", daemon.Port()));
  bob.StopListening();
  table = bobAgain.Login();
  ASSERT_TRUE(table) << bobAgain.Error();
  EXPECT_EQ(ReadSlot(*table, 90).online, 1);
  EXPECT_EQ(ReadSlot(*table, 176).online, 0);
  daemon.Stop();  // closes every connection and ends cleanly
  EXPECT_EQ(daemon.ExitStatus(), 0);
}

TEST(Daemon, SendsKeepAlivesAtTheConfiguredInterval) {
  IniConfig config;
  config.checkIntervalMs = 300;
  config.groups = {{"127.0.0.2::alice"}};
  Daemon daemon(config);
  ASSERT_TRUE(daemon.Start()) << daemon.Output();
  Client alice(At("127.0.0.2", daemon.Port()));
  ASSERT_TRUE(alice.Login()) << alice.Error();
  std::vector<std::chrono::steady_clock::time_point> seen;
  const auto end = std::chrono::steady_clock::now() + 2000ms;
  while (std::chrono::steady_clock::now() < end) {
    auto frame = alice.ReceiveFrame(100ms);
    if (frame && frame->empty()) seen.push_back(std::chrono::steady_clock::now());
  }
  // Every 300 ms + up to one 300 ms tick: 3 to 6 in 2 s.
  EXPECT_GE(seen.size(), 3u);
  EXPECT_LE(seen.size(), 7u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i] - seen[i - 1], 250ms);
}

TEST(Daemon, SendsNoKeepAliveWithIntervalZero) {
  IniConfig config;
  config.checkIntervalMs = 0;
  config.groups = {{"127.0.0.2::alice"}};
  Daemon daemon(config);
  ASSERT_TRUE(daemon.Start()) << daemon.Output();
  Client alice(At("127.0.0.2", daemon.Port()));
  ASSERT_TRUE(alice.Login()) << alice.Error();
  ASSERT_TRUE(NextSlotChange(alice, 2s));
  // Nothing within 1200 ms (several keep-alive and reconnect ticks): catches a frame sent by
  // those ticks, not one sent only after a longer time.
  EXPECT_FALSE(alice.ReceiveFrame(1200ms));
  EXPECT_FALSE(alice.ServerClosed());
}

TEST(Daemon, GivesUpOnAClientWithNothingListeningAfterTheReconnectLimit) {
  IniConfig config;
  config.reconnect = 5;
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
  Daemon daemon(config);
  ASSERT_TRUE(daemon.Start()) << daemon.Output();
  Client alice(At("127.0.0.2", daemon.Port(), false));
  ASSERT_TRUE(alice.Connect());
  EXPECT_TRUE(alice.WaitRequestConnectionClosed(5s));
  EXPECT_TRUE(daemon.WaitForOutput("Not respond:127.0.0.2", 3s)) << daemon.Output();
  // The server keeps serving the others.
  Client bob(At("127.0.0.3", daemon.Port()));
  ASSERT_TRUE(bob.Login()) << bob.Error();
  EXPECT_EQ(daemon.Count("Not respond:"), 1);
}

}  // namespace
}  // namespace qv::test
