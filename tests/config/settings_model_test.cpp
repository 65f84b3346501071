// The settings dialog's logic on real Server.ini files: what is asked, what is written, what is
// refused.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "config/default_config.h"
#include "config/dotted_address.h"
#include "config/ini_store.h"
#include "config/settings_model.h"

namespace qv::config {
namespace {

class SettingsModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/Server.ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteFile(const std::string& text) {
    std::ofstream out(path_, std::ios::binary);
    out << text;
  }
  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Value(const std::string& section, const std::string& key) const {
    return IniStore(path_).ReadString(section, key);
  }
  bool Has(const std::string& section, const std::string& key) const {
    return IniStore(path_).ReadSection(section).Has(key);
  }
  bool HasSection(const std::string& section) const {
    for (const auto& name : IniStore(path_).SectionNames()) {
      if (EqualsIgnoreCase(name, section)) return true;
    }
    return false;
  }

  // Three groups: Alpha (Anna@pc7, Boris@10.0.0.2), Beta (same fields as Alpha, Clara@pc9),
  // Gamma (other fields, no users).
  void WriteThreeGroups() {
    WriteFile(
        "[Options]\nApplicationCharset=5\nLanguage=0\nDEBUG=1\n"
        "[NetWork]\nPort=6340\nDirectSend=1\nReconnect=5\nTCPNoDelay=0\nCheckInterval_ms=15000\n"
        "[DataBases]\nCount=3\nAlias1=Alpha\nAlias2=Beta\nAlias3=Gamma\n"
        "[DataBase - 1]\nName=/data/a.qdb\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
        "Step=0\nUserCount=2\nArchive Link=0\nUser_1=pc7::Anna\nUser_2=10.0.0.2::Boris\n"
        "[DataBase - 2]\nName=/data/b.qdb\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
        "Step=0\nUserCount=1\nArchive Link=0\nUser_1=pc9::Clara\n"
        "[DataBase - 3]\nName=/data/c.qdb\nCount=30\nCountArc=100\nTime Begin=8\nTime End=18\n"
        "Step=1\nUserCount=0\nArchive Link=1\n");
  }

  std::string dir_;
  std::string path_;
};

TEST_F(SettingsModelTest, NothingAskedOrWrittenWithoutAChange) {
  WriteThreeGroups();
  const std::string before = ReadFile();
  SettingsModel model(path_);
  bool liveNoDelay = true;
  ASSERT_TRUE(model.Load(liveNoDelay));
  EXPECT_FALSE(liveNoDelay);  // TCPNoDelay=0 switches the live setting off
  EXPECT_EQ(model.CurrentGroup(), 0);
  EXPECT_EQ(model.Shown().Count, "7");
  ASSERT_EQ(model.Grid().size(), 2u);
  EXPECT_EQ(model.Grid()[1].HostName, "10.0.0.2");
  EXPECT_FALSE(model.Changed());
  EXPECT_FALSE(model.ShouldAskToSave());

  // Beta shows the same field values as Alpha: still no change. Gamma's differ: a change.
  model.SelectGroup(1);
  EXPECT_FALSE(model.Changed());
  EXPECT_EQ(model.Grid()[0].UserName, "Clara");
  model.SelectGroup(2);
  EXPECT_TRUE(model.Changed());
  EXPECT_EQ(ReadFile(), before);
}

TEST_F(SettingsModelTest, MissingFileGetsTheDefaultsWithCharsetFive) {
  SettingsModel model(path_);
  bool liveNoDelay = false;
  ASSERT_TRUE(model.Load(liveNoDelay));
  EXPECT_TRUE(liveNoDelay);
  EXPECT_EQ(Value("Options", "ApplicationCharset"), "5");
  EXPECT_EQ(model.GroupNames(), std::vector<std::string>{"First Group"});
  EXPECT_EQ(model.Port(), "6340");
  EXPECT_EQ(model.Port2Label(), "port 2");
  ASSERT_EQ(model.Grid().size(), 1u);  // one empty row for a group without users
  EXPECT_TRUE(model.Grid()[0].UserName.empty());
  EXPECT_FALSE(model.Changed());
}

TEST_F(SettingsModelTest, DuplicateUserNameAndHostAreRefusedExactly) {
  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.SelectGroup(1);

  std::string host = "pc11";
  EXPECT_EQ(model.AddUser("Anna", host), AddUserResult::DuplicateUserName);
  host = "pc7";
  EXPECT_EQ(model.AddUser("Dora", host), AddUserResult::DuplicateHost);
  host = "pc9";  // in this group's own grid
  EXPECT_EQ(model.AddUser("Dora", host), AddUserResult::DuplicateHost);
  host = "PC7";  // the comparison is exact
  EXPECT_EQ(model.AddUser("anna", host), AddUserResult::Added);
  host = "pc12";
  EXPECT_EQ(model.AddUser("anna", host), AddUserResult::DuplicateUserName);
  host = "";
  EXPECT_EQ(model.AddUser("Eve", host), AddUserResult::Ignored);
  ASSERT_EQ(model.Grid().size(), 2u);
  EXPECT_EQ(model.Grid()[1].UserName, "anna");
  EXPECT_EQ(model.Grid()[1].HostName, "PC7");

  model.Save();
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "2");
  EXPECT_EQ(Value("DataBase - 2", "User_2"), "PC7::anna");
}

TEST_F(SettingsModelTest, DottedAddressIsStoredNormalised) {
  std::string normalised;
  EXPECT_TRUE(CheckDottedAddress("192.168.001.010", normalised));
  EXPECT_EQ(normalised, "192.168.1.10");
  EXPECT_TRUE(CheckDottedAddress("+1.2.3.4", normalised));
  EXPECT_EQ(normalised, "1.2.3.4");
  EXPECT_FALSE(CheckDottedAddress("1.2.3", normalised));
  EXPECT_FALSE(CheckDottedAddress("1.2.3.x", normalised));
  EXPECT_FALSE(CheckDottedAddress("pc7.example.org", normalised));

  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  std::string host = "010.000.100.005";
  EXPECT_EQ(model.AddUser("Fred", host), AddUserResult::Added);
  EXPECT_EQ(host, "10.0.100.5");
  // The normalised form is the one compared: 010.000.000.002 is Boris's host.
  host = "010.000.000.002";
  EXPECT_EQ(model.AddUser("Gina", host), AddUserResult::DuplicateHost);
  model.Save();
  EXPECT_EQ(Value("DataBase - 1", "User_3"), "10.0.100.5::Fred");
  EXPECT_EQ(Value("DataBase - 1", "UserCount"), "3");
}

TEST_F(SettingsModelTest, RemovingGroupTwoOfThreeMovesGroupThreeUp) {
  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.SelectGroup(1);
  model.RemoveGroup();
  EXPECT_EQ(model.CurrentGroup(), 0);  // the one before the removed one
  EXPECT_EQ(model.GroupNames(), (std::vector<std::string>{"Alpha", "Gamma"}));
  ASSERT_TRUE(model.ShouldAskToSave());
  model.Save();

  EXPECT_EQ(Value("DataBases", "Count"), "2");
  EXPECT_EQ(Value("DataBases", "Alias2"), "Gamma");
  EXPECT_FALSE(Has("DataBases", "Alias3"));
  EXPECT_FALSE(HasSection("DataBase - 3"));
  EXPECT_EQ(Value("DataBase - 2", "Name"), "/data/c.qdb");
  EXPECT_EQ(Value("DataBase - 2", "Count"), "30");
  EXPECT_EQ(Value("DataBase - 2", "Step"), "1");
  EXPECT_EQ(Value("DataBase - 2", "Archive Link"), "1");
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "0");
  EXPECT_EQ(Value("DataBase - 1", "User_2"), "10.0.0.2::Boris");
  // Entries the dialog does not own are left alone.
  EXPECT_EQ(Value("Options", "DEBUG"), "1");
  EXPECT_EQ(Value("NetWork", "Reconnect"), "5");
}

TEST_F(SettingsModelTest, RemovingTheFirstAndTheLastGroup) {
  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.RemoveGroup();  // the first: the new first is shown
  EXPECT_EQ(model.CurrentGroup(), 0);
  EXPECT_EQ(model.Grid()[0].UserName, "Clara");
  model.RemoveGroup();
  model.RemoveGroup();
  EXPECT_EQ(model.CurrentGroup(), -1);
  EXPECT_FALSE(model.PanelVisible());
  EXPECT_FALSE(model.RemoveGroupEnabled());
  model.Save();
  EXPECT_EQ(Value("DataBases", "Count"), "0");
  EXPECT_FALSE(HasSection("DataBase - 1"));
  EXPECT_FALSE(Has("DataBases", "Alias1"));
}

TEST_F(SettingsModelTest, RemovingUsersDeletesTheirEntries) {
  WriteFile(
      "[NetWork]\nPort=6340\n[DataBases]\nCount=1\nAlias1=G\n"
      "[DataBase - 1]\nName=\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\nStep=0\n"
      "UserCount=5\nArchive Link=0\nUser_1=h1::u1\nUser_2=h2::u2\nUser_3=h3::u3\n"
      "User_4=h4::u4\nUser_5=h5::u5\n");
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.RemoveUser(1);  // u2
  model.RemoveUser(3);  // u5, now the fourth row
  ASSERT_EQ(model.Grid().size(), 3u);
  model.Save();
  EXPECT_EQ(Value("DataBase - 1", "UserCount"), "3");
  EXPECT_EQ(Value("DataBase - 1", "User_2"), "h3::u3");
  EXPECT_EQ(Value("DataBase - 1", "User_3"), "h4::u4");
  EXPECT_FALSE(Has("DataBase - 1", "User_4"));
  EXPECT_FALSE(Has("DataBase - 1", "User_5"));
}

TEST_F(SettingsModelTest, RemovingTheLastUserLeavesOneEmptyRowAndSavesNone) {
  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.SelectGroup(1);
  model.RemoveUser(0);
  ASSERT_EQ(model.Grid().size(), 1u);
  EXPECT_TRUE(model.Grid()[0].UserName.empty());
  // Switching away and back keeps the removal.
  model.SelectGroup(0);
  model.SelectGroup(1);
  ASSERT_EQ(model.Grid().size(), 1u);
  EXPECT_TRUE(model.Grid()[0].UserName.empty());
  model.Save();
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "0");
  EXPECT_FALSE(Has("DataBase - 2", "User_1"));
  // The next user added fills the empty row.
  SettingsModel again(path_);
  ASSERT_TRUE(again.Load(live));
  again.SelectGroup(1);
  std::string host = "pc20";
  ASSERT_EQ(again.AddUser("Hanna", host), AddUserResult::Added);
  ASSERT_EQ(again.Grid().size(), 1u);
  EXPECT_EQ(again.Grid()[0].UserName, "Hanna");
}

TEST_F(SettingsModelTest, FieldEditsAreSavedAsTheFileWantsThem) {
  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.SetTimeBegin("123");
  model.SetTimeEnd("2");
  model.SetStep(2);
  model.SetCount("14");
  model.SetPort("7000");
  EXPECT_EQ(model.Port2Label(), ",7010");
  model.SetPort("");
  EXPECT_EQ(model.Port2Label(), ",7010");  // not a number: the label stays
  model.SetDirectSend(false);
  model.SetTcpNoDelay(true);
  model.SetLanguage(1);
  model.AddGroup("Delta");
  EXPECT_FALSE(model.AddGroupEnabled());
  EXPECT_EQ(model.Shown().Count, "100");
  // An empty port would stop the next start: not saved.
  EXPECT_THROW(model.Save(), std::invalid_argument);
  model.SetPort("7000");
  model.Save();
  EXPECT_EQ(Value("DataBase - 1", "Time Begin"), "12");
  EXPECT_EQ(Value("DataBase - 1", "Time End"), "2");
  EXPECT_EQ(Value("DataBase - 1", "Step"), "2");
  EXPECT_EQ(Value("DataBase - 1", "Count"), "14");
  EXPECT_EQ(Value("NetWork", "Port"), "7000");
  EXPECT_EQ(Value("NetWork", "DirectSend"), "0");
  EXPECT_EQ(Value("NetWork", "TCPNoDelay"), "1");
  EXPECT_EQ(Value("Options", "Language"), "1");
  EXPECT_EQ(Value("DataBases", "Count"), "4");
  EXPECT_EQ(Value("DataBases", "Alias4"), "Delta");
  EXPECT_EQ(Value("DataBase - 4", "Count"), "100");
  EXPECT_EQ(Value("DataBase - 4", "Time End"), "20");
  EXPECT_EQ(Value("DataBase - 4", "UserCount"), "0");
}

TEST_F(SettingsModelTest, DatafileChoiceAppendsQdbAndCreatesTheFile) {
  EXPECT_EQ(SettingsModel::WithDatafileExtension("/d/group"), "/d/group.qdb");
  EXPECT_EQ(SettingsModel::WithDatafileExtension("/d/group.dat"), "/d/group.dat");
  EXPECT_EQ(SettingsModel::WithDatafileExtension("/d/group.db"), "/d/group.db.qdb");
  EXPECT_EQ(SettingsModel::WithDatafileExtension("/d/a.b"), "/d/a.b.qdb");

  WriteThreeGroups();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  EXPECT_FALSE(model.StructureEnabled());               // /data/a.qdb does not exist
  EXPECT_EQ(model.DatafileDisplay(), "../data/a.qdb");  // short paths are shown whole
  model.ChooseDatafile(dir_ + "/group");
  const std::string chosen = dir_ + "/group.qdb";
  EXPECT_TRUE(std::filesystem::exists(chosen));
  EXPECT_EQ(std::filesystem::file_size(chosen), 0u);
  EXPECT_TRUE(model.StructureEnabled());
  EXPECT_EQ(model.DatafilePath(), chosen);
  EXPECT_EQ(model.DatafileDisplay(), ".." + chosen.substr(chosen.size() - 20));
  model.ChooseDatafile("");  // a cancelled file dialog changes nothing
  EXPECT_EQ(model.DatafilePath(), chosen);
  EXPECT_TRUE(model.Changed());

  // An existing file is kept as it is.
  { std::ofstream(dir_ + "/old.dat") << "data"; }
  model.ChooseDatafile(dir_ + "/old.dat");
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/old.dat"), 4u);

  // A file that cannot be created leaves the group's file as it was.
  EXPECT_ANY_THROW(model.ChooseDatafile(dir_ + "/missing-dir/x"));
  EXPECT_EQ(model.DatafilePath(), dir_ + "/old.dat");

  // The names of the server's own files beside a datafile are refused and nothing is created.
  for (const char* name :
       {"/a.arc", "/a.tmp", "/a.tm~", "/a.qdb.jnl", "/a.qdb.jn2", "/A.ARC", "/a.qdb.new"}) {
    try {
      model.ChooseDatafile(dir_ + name);
      ADD_FAILURE() << name << " was taken";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), "'" + dir_ + name + "' is not a valid datafile name.");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + name)) << name;
  }
  EXPECT_EQ(model.DatafilePath(), dir_ + "/old.dat");
  EXPECT_FALSE(SettingsModel::IsReservedDatafileName("/d/arc"));
  EXPECT_FALSE(SettingsModel::IsReservedDatafileName("/d/a.arcs"));
  model.Save();
  EXPECT_EQ(Value("DataBase - 1", "Name"), dir_ + "/old.dat");
}

TEST_F(SettingsModelTest, FailedLoadStopsAndNeverSaves) {
  WriteThreeGroups();
  std::string text = ReadFile();
  text.replace(text.find("Step=1"), 6, "Step=x");  // group 3
  WriteFile(text);
  SettingsModel model(path_);
  bool live = true;
  EXPECT_FALSE(model.Load(live));
  EXPECT_TRUE(model.LoadFailed());
  EXPECT_EQ(model.GroupNames().size(), 3u);
  EXPECT_EQ(model.CurrentGroup(), -1);
  EXPECT_FALSE(model.PanelVisible());
  EXPECT_FALSE(live);  // the network section was read before the failure
  model.SetPort("1");
  EXPECT_FALSE(model.ShouldAskToSave());
  model.Save();
  EXPECT_EQ(ReadFile(), text);
}

TEST_F(SettingsModelTest, OddValuesOfOptionsAndNetwork) {
  WriteFile(
      "[Options]\nLanguage=7\n[NetWork]\nPort=abc\nDirectSend=0\nTCPNoDelay=x\n"
      "[DataBases]\nCount=0\n");
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  EXPECT_EQ(model.Language(), 1);
  EXPECT_TRUE(model.DirectSend());  // one of the two is not a number: both ticked
  EXPECT_TRUE(model.TcpNoDelay());
  EXPECT_FALSE(live);  // TCPNoDelay not a number: the live setting keeps its value
  EXPECT_EQ(model.Port(), "abc");
  EXPECT_FALSE(model.PanelVisible());

  WriteFile("[Options]\nLanguage=ru\n[DataBases]\nCount=-1\n");
  SettingsModel bad(path_);
  EXPECT_FALSE(bad.Load(live));
  EXPECT_EQ(bad.Language(), 0);
}

}  // namespace
}  // namespace qv::config

namespace qv::config {
namespace {

TEST_F(SettingsModelTest, FeedPortAndAddressAreWrittenOnlyOnceEdited) {
  WriteThreeGroups();
  {
    SettingsModel model(path_);
    bool live = false;
    ASSERT_TRUE(model.Load(live));
    EXPECT_EQ(model.FeedPort(), "");
    model.SetCount("15");
    model.Save();
    EXPECT_EQ(ReadFile().find("[Feed]"), std::string::npos);  // untouched: still no section
  }
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  model.SetFeedPort("8080");
  model.SetFeedAddress("0.0.0.0");
  EXPECT_TRUE(model.ShouldAskToSave());
  model.Save();
  EXPECT_EQ(Value("Feed", "Port"), "8080");
  EXPECT_EQ(Value("Feed", "Address"), "0.0.0.0");

  SettingsModel again(path_);
  ASSERT_TRUE(again.Load(live));
  EXPECT_EQ(again.FeedPort(), "8080");
  EXPECT_EQ(again.FeedAddress(), "0.0.0.0");
  again.SetFeedPort("");
  again.SetFeedAddress("");
  again.Save();
  EXPECT_EQ(Value("Feed", "Port"), "0");  // off
  EXPECT_EQ(ReadFile().find("Address=0.0.0.0"), std::string::npos);
}

}  // namespace
}  // namespace qv::config

namespace qv::config {
namespace {

// Save refuses, before writing anything, each value the next start would refuse or could not
// use: the first such value is named, with its group.
TEST_F(SettingsModelTest, SaveRefusesWhatTheNextStartWouldRefuse) {
  WriteThreeGroups();
  const std::string before = ReadFile();
  SettingsModel model(path_);
  bool live = false;
  ASSERT_TRUE(model.Load(live));
  EXPECT_TRUE(model.CheckBeforeSave().Ok());

  const auto problem = [&] { return model.CheckBeforeSave().Problem; };
  for (const char* bad : {"", "0", "65526", "99999", "70x", "-1", "+80"}) {
    model.SetPort(bad);
    EXPECT_EQ(problem(), SettingsProblem::Port) << bad;
    EXPECT_THROW(model.Save(), std::invalid_argument) << bad;
    EXPECT_EQ(ReadFile(), before) << bad;
  }
  model.SetPort("65525");
  EXPECT_TRUE(model.CheckBeforeSave().Ok());

  model.SetFeedPort("65536");
  EXPECT_EQ(problem(), SettingsProblem::FeedPort);
  model.SetFeedPort("");  // off
  model.SetFeedAddress("127.0.0.256");
  EXPECT_EQ(problem(), SettingsProblem::FeedAddress);
  model.SetFeedAddress("10.0.0.7");
  EXPECT_TRUE(model.CheckBeforeSave().Ok());

  model.SelectGroup(1);
  model.SetCountArc("127.0.0.4");
  EXPECT_EQ(model.CheckBeforeSave().Problem, SettingsProblem::CountArc);
  EXPECT_EQ(model.CheckBeforeSave().Group, 1);
  EXPECT_FALSE(model.StructureMaxArchive().has_value());
  model.SetCountArc("30");
  EXPECT_EQ(model.StructureMaxArchive(), 30);
  model.SetCount("2000001");
  EXPECT_EQ(problem(), SettingsProblem::Count);
  model.SetCount("7");
  model.SetTimeBegin("123");  // saved as its first two characters, 12: fine
  EXPECT_TRUE(model.CheckBeforeSave().Ok());
  model.SetTimeEnd("25");
  EXPECT_EQ(problem(), SettingsProblem::TimeEnd);
  model.SetTimeEnd("20");
  model.Save();
  EXPECT_EQ(Value("NetWork", "Port"), "65525");
  EXPECT_EQ(Value("DataBase - 2", "Time Begin"), "12");
}

}  // namespace
}  // namespace qv::config
