// The real daemon in a temporary directory: first run, single instance, SIGTERM.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/daemon_process.h"
#include "support/temp_dir.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

TEST(DaemonLifecycleTest, FirstRunSingleInstanceAndTermination) {
  test::TempDir dir;
  test::DaemonProcess first(QV_SERVERD_PATH, dir.Path());
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
  test::DaemonProcess second(QV_SERVERD_PATH, otherDir.Path());
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
            "[Options]\r\nLanguage=0\r\nDEBUG=1\r\n[NetWork]\r\nPort=6391\r\nDirectSend=1\r\n"
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

}  // namespace
}  // namespace qv
