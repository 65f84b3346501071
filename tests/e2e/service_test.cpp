// The daemon as a service: its state directory (--dir), one server per directory, --check, and
// the service manager's side of readiness, status and stop (NOTIFY_SOCKET, JOURNAL_STREAM).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "client/client.h"
#include "support/daemon_process.h"
#include "support/test_server.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::set<std::string> EntriesOf(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::string ConfigWithPort(int port, std::vector<std::string> users = {}) {
  test::IniConfig config;
  config.port = port;
  config.groups = {std::move(users)};
  return test::IniText(config);
}

TEST(ServiceDaemon, KeepsItsFilesInTheGivenDirectoryAndNothingBesideItself) {
  test::TempDir program, root;
  const std::string state = root.Path() + "/var/quorvane";  // two levels missing
  const std::vector<std::string> launcher = test::OwnNetworkLauncher();
  if (launcher.empty() && !test::PortFree(6340)) GTEST_SKIP() << "port 6340 is taken";
  test::DaemonProcess daemon(QV_SERVERD_PATH, program.Path(), {"--dir", state}, {}, launcher);
  ASSERT_TRUE(daemon.WaitForOutput("Initialization -> Ok!")) << daemon.Stdout() << daemon.Stderr();
  EXPECT_NE(daemon.Stdout().find("Created file Server.ini"), std::string::npos);
  std::ifstream ini(state + "/Server.ini");
  const std::string text((std::istreambuf_iterator<char>(ini)), {});
  EXPECT_NE(text.find("[DataBase - 1]"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(state + "/POP3"));
  EXPECT_EQ(ModeOf(state), 0750u);
  EXPECT_EQ(ModeOf(root.Path() + "/var"), 0750u);
  // Beside the program: only the program and the two files the test collects its output in.
  EXPECT_EQ(EntriesOf(program.Path()),
            (std::set<std::string>{"quorvane-serverd", "stdout.txt", "stderr.txt"}));
  EXPECT_EQ(daemon.Stop(), 0);
}

TEST(ServiceDaemon, RunsOnePerDirectorySideBySide) {
  test::TempDir programA, programB, programC, dirA, dirB;
  const int portA = test::FreePortPair();
  int portB = test::FreePortPair();
  for (int i = 0; i < 20 && (portB == portA || portB == portA + 10 || portB + 10 == portA); ++i) {
    portB = test::FreePortPair();
  }
  test::WriteFile(dirA.Path() + "/Server.ini", ConfigWithPort(portA));
  test::WriteFile(dirB.Path() + "/Server.ini", ConfigWithPort(portB));

  test::DaemonProcess a(QV_SERVERD_PATH, programA.Path(), {"--dir", dirA.Path()});
  test::DaemonProcess b(QV_SERVERD_PATH, programB.Path(), {"--dir=" + dirB.Path() + "/"});
  ASSERT_TRUE(a.WaitForOutput("Initialization -> Ok!")) << a.Stdout() << a.Stderr();
  ASSERT_TRUE(b.WaitForOutput("Initialization -> Ok!")) << b.Stdout() << b.Stderr();
  EXPECT_TRUE(Accepts(portA));
  EXPECT_TRUE(Accepts(portB));

  // The same directory by another spelling (through a symbolic link) is the same server.
  const std::string link = programC.Path() + "/link";
  std::filesystem::create_directory_symlink(dirA.Path(), link);
  test::DaemonProcess again(QV_SERVERD_PATH, programC.Path(), {"--dir", link});
  EXPECT_EQ(again.WaitForExit(5s), 1);
  EXPECT_NE(again.Stderr().find("Program is already running."), std::string::npos);

  // A copy without --dir that lives in that directory would use the same files: refused too.
  test::DaemonProcess inside(QV_SERVERD_PATH, dirA.Path());
  EXPECT_EQ(inside.WaitForExit(5s), 1);
  EXPECT_NE(inside.Stderr().find("Program is already running."), std::string::npos);

  EXPECT_EQ(a.Stop(), 0);
  EXPECT_EQ(b.Stop(), 0);
}

TEST(ServiceDaemon, CheckPrintsTheStartUpLinesAndTellsOkFromErrors) {
  test::TempDir program, dir;
  const auto check = [&](const std::string& ini) {
    test::WriteFile(dir.Path() + "/Server.ini", ini);
    test::DaemonProcess run(QV_SERVERD_PATH, program.Path(), {"--dir", dir.Path(), "--check"});
    const auto status = run.WaitForExit(10s);
    return std::make_pair(status.value_or(-1), run.Stdout());
  };
  const int port = test::FreePortPair();
  const auto [okStatus, okOut] = check(ConfigWithPort(port, {"127.0.0.2::alice", "pc7::bob"}));
  EXPECT_EQ(okStatus, 0) << okOut;
  EXPECT_NE(okOut.find("Start!"), std::string::npos) << okOut;
  EXPECT_NE(okOut.find("Initialization -> Ok!"), std::string::npos) << okOut;
  // Nothing was created, and the port stayed closed.
  EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"Server.ini"});
  EXPECT_FALSE(Accepts(port));

  const auto [dupStatus, dupOut] = check(ConfigWithPort(port, {"pc7::alice", "pc7::bob"}));
  EXPECT_EQ(dupStatus, 1) << dupOut;
  EXPECT_NE(dupOut.find("This user or hostname already exist! -> bob (pc7)"), std::string::npos)
      << dupOut;
  EXPECT_NE(dupOut.find("Initialization -> with errors!"), std::string::npos) << dupOut;

  std::string badPort = ConfigWithPort(port);
  badPort.replace(badPort.find("Port=" + std::to_string(port)), 5 + std::to_string(port).size(),
                  "Port=sixty");
  const auto [portStatus, portOut] = check(badPort);
  EXPECT_EQ(portStatus, 1) << portOut;
  EXPECT_NE(portOut.find("Incorrect Initialization -> Error in settings."), std::string::npos)
      << portOut;
  EXPECT_EQ(portOut.find("Initialization -> Ok!"), std::string::npos) << portOut;
  EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"Server.ini"});
}

// The service manager's end of NOTIFY_SOCKET: a datagram socket in a temporary directory.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Bound() const { return bound_; }

  // The next message, or nothing within the limit.
  std::optional<std::string> Receive(std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
  }

  // Messages up to and including the first that equals expected (at most 50, within the limit).
  std::vector<std::string> ReceiveUntil(const std::string& expected,
                                        std::chrono::milliseconds limit) {
    std::vector<std::string> messages;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (messages.size() < 50) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      auto message = Receive(left);
      if (!message) break;
      messages.push_back(*message);
      if (*message == expected) break;
    }
    return messages;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(ServiceDaemon, TellsTheServiceManagerReadyStatusAndStopping) {
  test::TempDir program, dir;
  NotifySocket manager(dir.Path() + "/notify");
  ASSERT_TRUE(manager.Bound());
  const int port = test::FreePortPair();
  test::WriteFile(dir.Path() + "/Server.ini", ConfigWithPort(port, {"127.0.0.2::alice"}));
  test::DaemonProcess daemon(QV_SERVERD_PATH, program.Path(), {"--dir", dir.Path()},
                             {"NOTIFY_SOCKET=" + dir.Path() + "/notify"});

  const std::vector<std::string> early = manager.ReceiveUntil("READY=1", 10s);
  ASSERT_FALSE(early.empty()) << daemon.Stdout() << daemon.Stderr();
  ASSERT_EQ(early.back(), "READY=1") << daemon.Stdout() << daemon.Stderr();
  // Ready means: the listener accepts, and start-up's last line is out.
  EXPECT_TRUE(Accepts(port));
  EXPECT_NE(daemon.Stdout().find("Initialization -> Ok!"), std::string::npos);
  EXPECT_NE(std::find(early.begin(), early.end(), "STATUS=Connections: 0"), early.end());

  {
    client::Client alice(client::ClientOptions{"127.0.0.2", "127.0.0.1", port, true, 0});
    ASSERT_TRUE(alice.Login()) << alice.Error() << daemon.Stdout();
    const auto on = manager.ReceiveUntil("STATUS=Connections: 1", 10s);
    ASSERT_FALSE(on.empty());
    EXPECT_EQ(on.back(), "STATUS=Connections: 1");
    alice.CloseServerConnection();
    alice.CloseRequestConnection();
    const auto off = manager.ReceiveUntil("STATUS=Connections: 0", 10s);
    ASSERT_FALSE(off.empty());
    EXPECT_EQ(off.back(), "STATUS=Connections: 0");
  }

  daemon.Signal(SIGTERM);
  const auto last = manager.ReceiveUntil("STOPPING=1", 10s);
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(last.back(), "STOPPING=1");
  EXPECT_EQ(daemon.WaitForExit(10s), 0);
}

TEST(ServiceDaemon, MarksLinePrioritiesOnlyWhenStandardOutputIsTheJournal) {
  test::TempDir program, dir;
  // Two users on one host: start-up logs an error (message 0) and a warning (with errors).
  test::WriteFile(dir.Path() + "/Server.ini",
                  ConfigWithPort(test::FreePortPair(), {"pc7::alice", "pc7::bob"}));
  // JOURNAL_STREAM naming the file a daemon started in programDir will write to (the file is
  // made now and opened again by the daemon: the same inode), or another inode.
  const auto streamOf = [](const std::string& programDir, const char* name, bool matching) {
    test::WriteFile(programDir + "/" + name, "");
    struct stat st {};
    EXPECT_EQ(::stat((programDir + "/" + name).c_str(), &st), 0);
    return "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
           std::to_string(matching ? st.st_ino : st.st_ino + 1);
  };
  const auto run = [&](bool matching) {
    test::DaemonProcess daemon(QV_SERVERD_PATH, program.Path(), {"--dir", dir.Path()},
                               {streamOf(program.Path(), "stdout.txt", matching)});
    EXPECT_TRUE(daemon.WaitForOutput("Initialization -> with errors!")) << daemon.Stdout();
    // A second daemon's refusal on its standard error is an error line too.
    test::TempDir other;
    test::DaemonProcess second(QV_SERVERD_PATH, other.Path(), {"--dir", dir.Path()},
                               {streamOf(other.Path(), "stderr.txt", matching)});
    EXPECT_EQ(second.WaitForExit(5s), 1);
    EXPECT_EQ(second.Stderr(),
              std::string(matching ? "<3>" : "") + "Program is already running.\n");
    EXPECT_EQ(daemon.Stop(), 0);
    return daemon.Stdout();
  };
  const std::string journal = run(true);
  EXPECT_NE(journal.find("<6>"), std::string::npos) << journal;
  // The journal stamps each line itself: ours carry no time.
  EXPECT_NE(journal.find("<6>Start!\n"), std::string::npos) << journal;
  EXPECT_NE(journal.find("<6>Stopped by signal SIGTERM\n"), std::string::npos) << journal;
  std::istringstream lines(journal);
  int count = 0;
  for (std::string line; std::getline(lines, line) && count < 100; ++count) {
    const char* expected = line.find("already exist") != std::string::npos ? "<3>"
                           : line.find("with errors") != std::string::npos ? "<4>"
                                                                           : "<6>";
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    EXPECT_FALSE(line.size() > 11 && line[5] == ':' && line[8] == ':') << line;
  }
  EXPECT_EQ(count, 4) << journal;  // Start!, the duplicate, with errors, the stop
  const std::string plain = run(false);
  EXPECT_NE(plain.find("Initialization -> with errors!"), std::string::npos);
  EXPECT_NE(plain.find(" Stopped by signal SIGTERM\n"), std::string::npos) << plain;
  EXPECT_EQ(plain[2], ':') << plain;  // "HH:MM:SS Start!"
  EXPECT_EQ(plain.find('<'), std::string::npos) << plain;
}

}  // namespace
}  // namespace qv
