#include "core/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/journal_flush.h"
#include "platform/poll_loop.h"
#include "store/file_layer.h"
#include "store/journal.h"
#include "support/recording_front_end.h"
#include "support/temp_dir.h"

namespace qv {
namespace {

const std::string kNetwork =
    "[NetWork]\nPort=7000\nDirectSend=1\nReconnect=4\nTCPNoDelay=0\nCheckInterval_ms=500\n";

std::string Group(int n, const std::string& body) {
  return "[DataBase - " + std::to_string(n) + "]\n" + body;
}

const std::string kGroupKeys =
    "Name=\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\nStep=0\nArchive Link=0\n";

class StartupTest : public ::testing::Test {
 protected:
  // Runs start-up on the given Server.ini (none when empty) and returns the log lines, oldest
  // first, without their time stamps.
  std::vector<std::string> Start(const std::string& ini) {
    if (!ini.empty()) dir.Write("Server.ini", ini);
    core::RunStartup(server);
    std::vector<std::string> lines;
    for (const std::string& entry : state::SplitLogEntries(server.runtime.log.Pending())) {
      // Without the time stamp; the debug marker's two lines stay as two lines.
      std::vector<std::string> entryLines;
      size_t from = entry.size() >= 9 ? 9 : entry.size();
      for (;;) {
        const size_t at = entry.find("\r\n", from);
        entryLines.push_back(entry.substr(from, at == std::string::npos ? at : at - from));
        if (at == std::string::npos) break;
        from = at + 2;
      }
      lines.insert(lines.begin(), entryLines.begin(), entryLines.end());
    }
    return lines;
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  test::TempDir dir;
  platform::PollLoop loop;
  test::RecordingFrontEnd front;
  state::Server server{dir.Path(), loop, front};
};

TEST_F(StartupTest, MissingFileIsCreatedLoggedAndThenRead) {
  const auto lines = Start("");
  EXPECT_EQ(front.languageAsked, 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"Created file Server.ini", "Start!",
                                             "User list of server is empty. See Settings",
                                             "Initialization -> Ok!"}));
  ASSERT_EQ(server.roster.groups.size(), 1u);
  EXPECT_EQ(server.roster.groups[0].Alias, "First Group");
  EXPECT_TRUE(server.roster.groups[0].NoDatafile);
  EXPECT_EQ(server.setup.settings.Port, 6340);
  EXPECT_EQ(server.setup.settings.Reconnect, 5);
  EXPECT_EQ(front.settingsCaption, "Settings");
  EXPECT_EQ(front.connectionsCaption, "Connections: 0");
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("POP3")));
}

TEST_F(StartupTest, SpoolFilesOfAnEarlierRunAreRemovedAndNothingElse) {
  std::filesystem::create_directory(dir.File("POP3"));
  dir.Write("POP3/127.0.0.2123456.buf", "half a frame");
  dir.Write("POP3/127.0.0.3.buf", "");
  dir.Write("POP3/0123251208101010.mqv", "a message");
  dir.Write("POP3/127.0.0.2.bin", "");
  const auto lines = Start("");
  EXPECT_TRUE(Has(lines, "Unfinished spool files removed: 2"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("POP3/127.0.0.2123456.buf")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("POP3/127.0.0.3.buf")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("POP3/0123251208101010.mqv")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("POP3/127.0.0.2.bin")));
}

TEST_F(StartupTest, RussianChoiceWritesLanguageOneAndLogsInRussian) {
  front.languageCode = 4;
  const auto lines = Start("");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], state::RussianTable()[1]);
  EXPECT_EQ(lines[1], state::RussianTable()[13]);
  EXPECT_EQ(server.setup.catalogue.Current(), state::Language::Russian);
}

TEST_F(StartupTest, UsersDuplicatesAndTheStatusTable) {
  const auto lines = Start(
      "[Options]\nLanguage=0\n" + kNetwork + "[DataBases]\nCount=2\nAlias1=One\nAlias2=Two\n" +
      Group(1, kGroupKeys + "UserCount=4\nUser_1=PC7::Anna\nUser_2=noseparator\n"
                            "User_3=pc8::Boris\n") +
      Group(2, kGroupKeys + "UserCount=1\nUser_1=pc7::Carl\n"));
  EXPECT_EQ(server.setup.settings.Port, 7000);
  EXPECT_EQ(server.setup.settings.ClientPort, 7010);
  EXPECT_FALSE(server.setup.settings.TcpNoDelay);
  EXPECT_EQ(server.setup.settings.Reconnect, 4);
  EXPECT_EQ(server.setup.settings.CheckIntervalMs, 500);
  const state::TMyDBUser& one = server.roster.groups[0];
  ASSERT_EQ(one.Users.size(), 4u);
  EXPECT_TRUE(one.Users[0].Valid);
  EXPECT_EQ(one.Users[0].HostName, "pc7");
  EXPECT_EQ(one.Users[0].UserName, "Anna");
  // Without "::": empty host, the value without its first character as name, never valid.
  EXPECT_FALSE(one.Users[1].Valid);
  EXPECT_EQ(one.Users[1].HostName, "");
  EXPECT_EQ(one.Users[1].UserName, "oseparator");
  EXPECT_TRUE(one.Users[2].Valid);
  // UserCount larger than the entries: an empty, invalid user.
  EXPECT_FALSE(one.Users[3].Valid);
  // The same host in another group: not valid.
  EXPECT_FALSE(server.roster.groups[1].Users[0].Valid);
  EXPECT_TRUE(Has(lines, "This user or hostname already exist! -> oseparator ()"));
  EXPECT_TRUE(Has(lines, "This user or hostname already exist! ->  ()"));
  EXPECT_TRUE(Has(lines, "This user or hostname already exist! -> Carl (pc7)"));
  EXPECT_EQ(lines.back(), "Initialization -> with errors!");
  EXPECT_EQ(server.roster.groups[1].Users[0].GroupIndex, 1);
  EXPECT_EQ(server.roster.groups[0].Users[2].UserIndex, 2);
  // int32 5000, then one 86-byte slot per user in table order.
  ASSERT_EQ(server.roster.statusTable.size(), 4u + 5u * 86u);
  EXPECT_EQ(server.roster.statusTable[0] | server.roster.statusTable[1] << 8, 5000);
  const uint8_t* anna = server.roster.statusTable.data() + one.Users[0].StatusSlotPos;
  EXPECT_EQ(one.Users[0].StatusSlotPos, 4);
  EXPECT_EQ(anna[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(anna + 5), anna[4]), "Anna");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(anna + 56), anna[55]), "pc7");
  EXPECT_EQ(server.roster.groups[1].Users[0].StatusSlotPos, 4 + 4 * 86);
  EXPECT_TRUE(std::filesystem::exists(dir.File("POP3/pc7.bin")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("POP3/pc8.bin")));
  EXPECT_EQ(std::filesystem::file_size(dir.File("POP3/pc7.bin")), 0u);
}

TEST_F(StartupTest, OptionsLanguageAndDebug) {
  dir.Write("debug.log", "");
  std::remove(dir.File("debug.log").c_str());
  auto lines = Start("[Options]\nLanguage=2\nDebug=1\n" + kNetwork + "[DataBases]\nCount=0\n");
  EXPECT_EQ(server.setup.catalogue.Current(), state::Language::English);
  EXPECT_TRUE(server.setup.settings.Debug);  // keys match without regard to case
  EXPECT_TRUE(std::filesystem::exists(dir.File("debug.log")));
  EXPECT_EQ(lines[0], "");  // the "\r\n--DEBUG--" marker: the time and a blank alone
  EXPECT_EQ(lines[1], "--DEBUG--");
  EXPECT_NE(dir.Read("debug.log").find("Start!"), std::string::npos);
}

TEST_F(StartupTest, ALanguageThatIsNoNumberLeavesEnglishAndDebugOff) {
  Start("[Options]\nLanguage=ru\nDEBUG=1\n" + kNetwork + "[DataBases]\nCount=0\n");
  EXPECT_EQ(server.setup.catalogue.Current(), state::Language::English);
  EXPECT_FALSE(server.setup.settings.Debug);
  EXPECT_FALSE(std::filesystem::exists(dir.File("debug.log")));
}

TEST_F(StartupTest, NetworkDefaultsAndABadPortStopsStartUp) {
  Start(
      "[NetWork]\nPort=6400\nDirectSend=0\nTCPNoDelay=1\nCheckInterval_ms=\n[DataBases]\nCount="
      "0\n");
  EXPECT_EQ(server.setup.settings.Reconnect, 5);
  EXPECT_EQ(server.setup.settings.CheckIntervalMs, 15000);
  EXPECT_FALSE(server.setup.settings.DirectSend);

  test::TempDir other;
  test::RecordingFrontEnd otherFront;
  state::Server bad(other.Path(), loop, otherFront);
  other.Write("Server.ini", "[NetWork]\nPort=abc\n[DataBases]\nCount=1\n");
  core::RunStartup(bad);
  const std::string pending = bad.runtime.log.Pending();
  EXPECT_NE(pending.find("Incorrect Initialization -> Error in settings."), std::string::npos);
  EXPECT_EQ(pending.find("Initialization -> Ok!"), std::string::npos);
  EXPECT_EQ(bad.setup.settings.Port, 6340);
  EXPECT_EQ(bad.setup.settings.Reconnect, 3);  // built-in value: start-up stopped before the key
  EXPECT_TRUE(bad.roster.groups.empty());
}

TEST_F(StartupTest, GroupGuardsReportTheAliasAndGoOn) {
  const auto lines =
      Start(kNetwork + "[DataBases]\nCount=3\nAlias1=NoLink\nAlias2=BadTime\nAlias3=Fine\n" +
            Group(1,
                  "Name=\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\nStep=0\n"
                  "UserCount=1\nUser_1=pc1::A\n") +
            Group(2,
                  "Name=\nCount=7\nCountArc=0\nTime Begin=x\nTime End=20\nStep=0\n"
                  "Archive Link=1\nUserCount=1\nUser_1=pc2::B\n") +
            Group(3, kGroupKeys + "UserCount=1\nUser_1=pc3::C\n"));
  EXPECT_TRUE(Has(lines, "Incorrect parameters of database: NoLink"));
  EXPECT_TRUE(server.roster.groups[0].Users.empty());  // the failing key came before UserCount
  EXPECT_EQ(server.roster.groups[0].Count, 7);
  EXPECT_TRUE(Has(lines, "Incorrect time parameters of group: BadTime"));
  EXPECT_EQ(server.roster.groups[1].Users.size(), 1u);
  EXPECT_TRUE(server.roster.groups[1].ArchiveLink);
  EXPECT_TRUE(server.roster.groups[2].Users[0].Valid);
  EXPECT_EQ(lines.back(), "Initialization -> with errors!");
  // Only the first group sees a running total of 0 users.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "User list of server is empty. See Settings"),
            1);
}

TEST_F(StartupTest, ZeroUsersLogsTheEmptyListOncePerGroup) {
  const auto lines =
      Start(kNetwork + "[DataBases]\nCount=2\n" + Group(1, kGroupKeys + "UserCount=0\n") +
            Group(2, kGroupKeys + "UserCount=0\n"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "User list of server is empty. See Settings"),
            2);
  EXPECT_EQ(lines.back(), "Initialization -> Ok!");
}

TEST_F(StartupTest, HostsThatWouldLeaveThePop3DirectoryStopStartUp) {
  for (const std::string host : {"../x", "a/b"}) {
    test::TempDir root;
    std::filesystem::create_directory(root.File("srv"));
    test::RecordingFrontEnd f;
    state::Server s(root.File("srv"), loop, f);
    root.Write("srv/Server.ini",
               kNetwork + "[DataBases]\nCount=1\nAlias1=G\n" +
                   Group(1, kGroupKeys + "UserCount=1\nUser_1=" + host + "::U\n"));
    core::RunStartup(s);
    EXPECT_NE(s.runtime.log.Pending().find("Incorrect Initialization -> Error in settings."),
              std::string::npos)
        << host;
    EXPECT_FALSE(std::filesystem::exists(root.File("srv/x.bin")));
    EXPECT_FALSE(std::filesystem::exists(root.File("srv/POP3/a")));
    // Nothing was created outside POP3.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root.Path())) {
      const std::string p = entry.path().string();
      EXPECT_TRUE(p.find("/srv") != std::string::npos) << p;
    }
  }
}

TEST_F(StartupTest, GarbageSettingsNeverCrash) {
  std::string garbage = "\xFF\xFE[Options\n=\n[NetWork]\nPort=1\nDirectSend=1\nTCPNoDelay=1\n";
  garbage += "[DataBases]\nCount=99999999\n" + std::string(200000, 'x') + "\n";
  auto lines = Start(garbage);
  EXPECT_EQ(lines.back(), "Incorrect Initialization -> Error in settings.");
  EXPECT_TRUE(server.roster.groups.empty());

  test::TempDir other;
  test::RecordingFrontEnd f;
  state::Server s(other.Path(), loop, f);
  other.Write("Server.ini", kNetwork + "[DataBases]\nCount=1\n" +
                                Group(1, kGroupKeys + "UserCount=-3\nTime Begin=-5\nStep=-1\n"));
  core::RunStartup(s);
  EXPECT_NE(s.runtime.log.Pending().find("Incorrect parameters of database: "), std::string::npos);
  EXPECT_TRUE(s.roster.groups[0].Users.empty());
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// [Options] SyncWrites: absent means on (the datafile gets its journal), 0 means off (no
// journal, no syncs); the default file written at the first start does not carry the key.
TEST_F(StartupTest, SyncWritesOnUnlessZero) {
  dir.Write("team.qdb", "");
  const std::string groups = "[DataBases]\nCount=1\nAlias1=Team\n" +
                             Group(1, "Name=" + dir.File("team.qdb") +
                                          "\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
                                          "Step=0\nArchive Link=0\nUserCount=0\n");
  Start("[Options]\nLanguage=0\n" + kNetwork + groups);
  EXPECT_TRUE(server.setup.settings.SyncWrites);
  ASSERT_TRUE(server.roster.groups[0].Journal);
  EXPECT_TRUE(std::filesystem::exists(dir.File("team.qdb.jnl")));

  test::TempDir other;
  other.Write("team.qdb", "");
  other.Write("Server.ini", "[Options]\nLanguage=0\nSyncWrites=0\n" + kNetwork +
                                "[DataBases]\nCount=1\nAlias1=Team\n" +
                                Group(1, "Name=" + other.File("team.qdb") +
                                             "\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
                                             "Step=0\nArchive Link=0\nUserCount=0\n"));
  state::Server off{other.Path(), loop, front};
  core::RunStartup(off);
  EXPECT_FALSE(off.setup.settings.SyncWrites);
  EXPECT_FALSE(off.roster.groups[0].Journal);
  EXPECT_FALSE(std::filesystem::exists(other.File("team.qdb.jnl")));
  ASSERT_NE(off.roster.groups[0].Files, nullptr);
  EXPECT_FALSE(off.roster.groups[0].Files->Syncs());

  test::TempDir fresh;
  state::Server first{fresh.Path(), loop, front};
  core::RunStartup(first);
  EXPECT_EQ(fresh.Read("Server.ini").find("SyncWrites"), std::string::npos);
  EXPECT_TRUE(first.setup.settings.SyncWrites);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Before the DB Structure dialog rewrites a datafile, the running group's journalled changes go
// into it, whichever name the dialog uses for the file; other groups are left alone.
TEST_F(StartupTest, JournalOfTheNamedDatafileIsFlushed) {
  dir.Write("team.qdb", "");
  dir.Write("other.qdb", "");
  auto group = [&](int n, const std::string& file) {
    return Group(n, "Name=" + dir.File(file) +
                        "\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
                        "Step=0\nArchive Link=0\nUserCount=0\n");
  };
  Start("[Options]\nLanguage=0\n" + kNetwork + "[DataBases]\nCount=2\nAlias1=Team\nAlias2=Other\n" +
        group(1, "team.qdb") + group(2, "other.qdb"));
  wire::DayRecord day{};
  wire::SetDayDate(day, 45000);
  for (state::TMyDBUser& g : server.roster.groups) {
    ASSERT_TRUE(g.Journal);
    g.Journal->Append(0, 45000, day);
  }
  core::FlushJournalsOf(server, dir.Path() + "/./team.qdb");
  EXPECT_EQ(std::filesystem::file_size(dir.File("team.qdb")), wire::kDayRecordSize);
  EXPECT_EQ(std::filesystem::file_size(dir.File("team.qdb.jnl")), 0u);
  EXPECT_TRUE(server.roster.groups[0].Journal->Pending().empty());
  EXPECT_EQ(std::filesystem::file_size(dir.File("other.qdb")), 0u) << "another group waits";
  EXPECT_EQ(server.roster.groups[1].Journal->Pending().size(), 1u);
}

}  // namespace
}  // namespace qv
