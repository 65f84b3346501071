// The real daemon in a temporary directory: first run, single instance, SIGTERM.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/daemon_process.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

TEST(DaemonLifecycleTest, FirstRunSingleInstanceAndTermination) {
  const std::vector<std::string> launcher = test::OwnNetworkLauncher();
  if (launcher.empty() && !test::PortFree(6340)) GTEST_SKIP() << "port 6340 is taken";
  test::TempDir dir;
  test::DaemonProcess first(QV_SERVERD_PATH, dir.Path(), {}, {}, launcher);
  ASSERT_TRUE(first.WaitForOutput("Initialization -> Ok!")) << first.Stdout() << first.Stderr();
  const std::string out = first.Stdout();
  const size_t created = out.find("Created file Server.ini");
  const size_t start = out.find("Start!");
  const size_t empty = out.find("User list of server is empty. See Settings");
  ASSERT_NE(created, std::string::npos);
  EXPECT_LT(created, start);
  EXPECT_LT(start, empty);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("POP3")));
  EXPECT_NE(dir.Read("Server.ini").find("[DataBase - 1]"), std::string::npos);

  test::TempDir otherDir;
  test::DaemonProcess second(QV_SERVERD_PATH, otherDir.Path(), {}, {},
                             launcher.empty() ? launcher : test::NetworkOfLauncher(first.Pid()));
  EXPECT_EQ(second.WaitForExit(5s), 1);
  EXPECT_NE(second.Stderr().find("Program is already running."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(otherDir.File("Server.ini")));

  first.Signal(SIGTERM);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(first.WaitForExit(2s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST(DaemonLifecycleTest, DebugModeWritesTheLogLinesToDebugLog) {
  test::TempDir dir;
  dir.Write("Server.ini",
            "[Options]\r\nLanguage=0\r\nDEBUG=1\r\n[NetWork]\r\nPort=" +
                std::to_string(test::FreePortPair()) +
                "\r\nDirectSend=1\r\n"
                "TCPNoDelay=1\r\n[DataBases]\r\nCount=1\r\nAlias1=G\r\n[DataBase - 1]\r\nName=\r\n"
                "Count=7\r\nCountArc=0\r\nTime Begin=9\r\nTime End=20\r\nStep=0\r\nUserCount=0\r\n"
                "Archive Link=0\r\n");
  test::DaemonProcess daemon(QV_SERVERD_PATH, dir.Path());
  ASSERT_TRUE(daemon.WaitForOutput("Initialization -> Ok!")) << daemon.Stdout();
  daemon.Signal(SIGINT);
  EXPECT_EQ(daemon.WaitForExit(2s), 0);
  const std::string log = dir.Read("debug.log");
  EXPECT_NE(log.find("--DEBUG--\r\n"), std::string::npos);
  EXPECT_NE(log.find(" Start!\r\n"), std::string::npos);
  EXPECT_NE(log.find(" Initialization -> Ok!\r\n"), std::string::npos);
  // The daemon prints the marker entry as the time, then the marker on its own line.
  EXPECT_NE(daemon.Stdout().find(" \n--DEBUG--\n"), std::string::npos) << daemon.Stdout();
}

// Log rotation: debug.log is moved away, SIGHUP makes the daemon write a new one and go on;
// SIGTERM then stops it with one line.
TEST(DaemonLifecycleTest, HangupReopensDebugLogAndTerminationIsLogged) {
  test::TempDir dir;
  dir.Write("Server.ini", "[Options]\r\nLanguage=0\r\nDEBUG=1\r\n[NetWork]\r\nPort=" +
                              std::to_string(test::FreePortPair()) +
                              "\r\nDirectSend=1\r\nTCPNoDelay=1\r\n[DataBases]\r\nCount=0\r\n");
  test::DaemonProcess daemon(QV_SERVERD_PATH, dir.Path());
  ASSERT_TRUE(daemon.WaitForOutput("Initialization -> Ok!")) << daemon.Stdout();
  std::filesystem::rename(dir.File("debug.log"), dir.File("debug.log.1"));

  daemon.Signal(SIGHUP);
  ASSERT_TRUE(daemon.WaitForOutput("SIGHUP received: debug.log re-opened")) << daemon.Stdout();
  EXPECT_FALSE(daemon.WaitForExit(200ms).has_value()) << "SIGHUP ended the daemon";
  EXPECT_EQ(daemon.Count("SIGHUP received"), 1);
  daemon.Signal(SIGHUP);
  for (int i = 0; i < 500 && daemon.Count("SIGHUP received") < 2; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(daemon.Count("SIGHUP received"), 2) << daemon.Stdout();

  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitForExit(5s), 0);
  EXPECT_EQ(daemon.Count("Stopped by signal SIGTERM"), 1) << daemon.Stdout();
  const std::string rotated = dir.Read("debug.log.1");
  const std::string fresh = dir.Read("debug.log");
  EXPECT_NE(rotated.find(" Initialization -> Ok!\r\n"), std::string::npos) << rotated;
  EXPECT_EQ(rotated.find("SIGHUP"), std::string::npos) << rotated;
  EXPECT_NE(fresh.find(" SIGHUP received: debug.log re-opened\r\n"), std::string::npos) << fresh;
  EXPECT_NE(fresh.find(" Stopped by signal SIGTERM\r\n"), std::string::npos) << fresh;
}

}  // namespace
}  // namespace qv
