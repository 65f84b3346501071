#include "core/check_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "core/settings_check.h"
#include "support/temp_dir.h"

namespace qv {
namespace {

struct Checked {
  bool ok = false;
  std::string out;
};

Checked Check(const std::string& dir, const std::string& configFile = "") {
  Checked result;
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return result;
  result.ok = core::CheckConfiguration(dir, configFile, file);
  std::rewind(file);
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    result.out.append(buffer, n);
  std::fclose(file);
  return result;
}

std::set<std::string> EntriesOf(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::string Ini(const std::string& options, const std::string& network, const std::string& users,
                const std::string& datafile = "") {
  return "[Options]\n" + options + "[NetWork]\n" + network +
         "DirectSend=1\nTCPNoDelay=1\n[DataBases]\nCount=1\nAlias1=Office\n[DataBase - 1]\nName=" +
         datafile + "\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\nStep=0\nArchive Link=0\n" +
         users;
}

TEST(CheckConfigTest, GoodFileIsOkAndNothingIsCreated) {
  test::TempDir dir;
  const std::string datafile = dir.File("office.qdb");
  dir.Write("Server.ini",
            Ini("Language=0\nDEBUG=1\n", "Port=7000\n",
                "UserCount=2\nUser_1=127.0.0.2::Anna\nUser_2=pc7::Boris\n", datafile));
  const Checked checked = Check(dir.Path());
  EXPECT_TRUE(checked.ok) << checked.out;
  EXPECT_NE(checked.out.find("--DEBUG--"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find(" Start!\n"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find(" Initialization -> Ok!\n"), std::string::npos) << checked.out;
  // No POP3/, mailbox, debug.log or datafile.
  EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"Server.ini"});
}

TEST(CheckConfigTest, ErrorsOfUsersHostsAndNetworkFail) {
  test::TempDir dir;
  dir.Write("Server.ini", Ini("Language=0\n", "Port=7000\n",
                              "UserCount=2\nUser_1=pc7::Anna\nUser_2=PC7::Boris\n"));
  Checked checked = Check(dir.Path());
  EXPECT_FALSE(checked.ok);
  EXPECT_NE(checked.out.find("This user or hostname already exist! -> Boris (pc7)"),
            std::string::npos)
      << checked.out;
  EXPECT_NE(checked.out.find("Initialization -> with errors!"), std::string::npos);

  dir.Write("Server.ini", Ini("Language=0\n", "Port=\n", "UserCount=0\n"));
  checked = Check(dir.Path());
  EXPECT_FALSE(checked.ok);
  EXPECT_NE(checked.out.find("Incorrect Initialization -> Error in settings."), std::string::npos);

  // A host that cannot name a mailbox file stops start-up as a settings error.
  dir.Write("Server.ini", Ini("Language=0\n", "Port=7000\n", "UserCount=1\nUser_1=../x::Anna\n"));
  checked = Check(dir.Path());
  EXPECT_FALSE(checked.ok);
  EXPECT_NE(checked.out.find("Incorrect Initialization -> Error in settings."), std::string::npos);
  EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"Server.ini"});

  // Russian: the lines in Russian (UTF-8), the result the same.
  dir.Write("Server.ini", Ini("Language=1\n", "Port=7000\n", "UserCount=1\nUser_1=pc7::Anna\n"));
  checked = Check(dir.Path());
  EXPECT_TRUE(checked.ok) << checked.out;
  EXPECT_NE(checked.out.find("Инициализация -> Успешно!"), std::string::npos) << checked.out;
}

TEST(CheckConfigTest, MissingFileIsCheckedAsTheDefaultAndNotWritten) {
  test::TempDir dir;
  const std::string missing = dir.File("not-yet");
  const Checked checked = Check(missing);
  EXPECT_TRUE(checked.ok) << checked.out;
  EXPECT_NE(checked.out.find("No " + missing + "/Server.ini"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("Created file Server.ini"), std::string::npos);
  EXPECT_NE(checked.out.find("User list of server is empty. See Settings"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// Each fault alone makes the check fail, and the output names its section, key and value.
TEST(CheckConfigTest, EachFaultFailsAndIsNamed) {
  test::TempDir dir;
  const std::string users = "UserCount=1\nUser_1=127.0.0.2::Anna\n";
  const std::string good = Ini("Language=0\n", "Port=7000\n", users, dir.File("office.qdb"));
  struct Case {
    std::string ini;
    std::string named;
  };
  const std::vector<Case> cases = {
      {Ini("Language=0\n", "Port=sixty\n", users), "[NetWork] Port=sixty: not a number"},
      {Ini("Language=0\n", "Port=99999\n", users), "[NetWork] Port=99999: out of range"},
      {Ini("Language=0\n", "Port=7000 ; the port\n", users),
       "[NetWork] Port=7000 ; the port: looks like an inline comment"},
      {Ini("Language=0\nDEBUG=yes\n", "Port=7000\n", users), "[Options] DEBUG=yes"},
      {Ini("Language=0\n", "Port=7000\n", "UserCount=1\nUser_1=Anna\n"),
       "[DataBase - 1] User_1=Anna: not host::name"},
      {Ini("Language=0\n", "Port=7000\n", users, dir.File("no/such/dir/office.qdb")),
       "[DataBase - 1] Name=" + dir.File("no/such/dir/office.qdb") +
           ": no such file, and it cannot be created in " + dir.File("no/such/dir") +
           " (no such directory)"},
      {Ini("Language=0\n", "Port=7000\n", users, dir.Path()),
       "[DataBase - 1] Name=" + dir.Path() + ": not a regular file"},
      {good + "[Feed]\nPort=99999\n", "[Feed] Port=99999: out of range 0..65535"},
      {good + "[Feed]\nPort=8080\nAddress=nowhere\n",
       "[Feed] Address=nowhere: not a dotted IPv4 address"},
      {good + "[Feed]\nPort=8080\nAllow=192.168.1.0/24, 10.0.0.0/33\n",
       "\"10.0.0.0/33\" is not an IPv4 address"},
      {good + "[Feed]\nPort=8080                          ; 0 or missing: no HTTP listener\n",
       "[Feed] Port=8080                          ; 0 or missing: no HTTP listener: looks like"},
      {good + "[Feed]\nMaxClients=0\n", "[Feed] MaxClients=0: out of range 1..65535"},
      {good + "[Feed]\nProxy=proxy.local\n", "[Feed] Proxy=proxy.local: not a dotted IPv4"},
  };
  for (const Case& c : cases) {
    dir.Write("Server.ini", c.ini);
    const Checked checked = Check(dir.Path());
    EXPECT_FALSE(checked.ok) << c.named << "\n" << checked.out;
    EXPECT_NE(checked.out.find(c.named), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find(": error: "), std::string::npos) << checked.out;
  }
  // The good file with a full [Feed] passes; the missing datafile in a writable directory is a
  // note only, since the start creates it.
  dir.Write("Server.ini", good +
                              "[Feed]\nPort=8080\nAddress=0.0.0.0\nAllow=192.168.1.0/24, "
                              "10.0.0.7\nMaxClients=256\nProxy=127.0.0.1\n");
  const Checked checked = Check(dir.Path());
  EXPECT_TRUE(checked.ok) << checked.out;
  EXPECT_NE(checked.out.find(": note: [DataBase - 1] Name=" + dir.File("office.qdb") +
                             ": no such file; it will be created"),
            std::string::npos)
      << checked.out;
}

TEST(CheckConfigTest, DatafileThatCannotBeWrittenFailsAndConfigFileIsRead) {
  test::TempDir dir, etc;
  const std::string datafile = dir.File("office.qdb");
  dir.Write("office.qdb", "");
  ASSERT_EQ(::chmod(datafile.c_str(), 0444), 0);
  const std::string users = "UserCount=1\nUser_1=127.0.0.2::Anna\n";
  // The settings come from --config; the directory holds no Server.ini.
  etc.Write("Server.ini", Ini("Language=0\n", "Port=7000\n", users, datafile));
  const Checked checked = Check(dir.Path(), etc.File("Server.ini"));
  if (::geteuid() == 0) {
    EXPECT_TRUE(checked.ok) << checked.out;  // root may write any file
  } else {
    EXPECT_FALSE(checked.ok);
    EXPECT_NE(checked.out.find("Name=" + datafile + ": the datafile cannot be read and written"),
              std::string::npos)
        << checked.out;
  }
  EXPECT_NE(checked.out.find("Initialization -> Ok!"), std::string::npos) << checked.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("Server.ini")));
}

TEST(CheckConfigTest, InlineCommentsAreToldFromValues) {
  EXPECT_TRUE(core::LooksLikeInlineComment("8080 ; the port"));
  EXPECT_TRUE(core::LooksLikeInlineComment("8080\t;x"));
  EXPECT_TRUE(core::LooksLikeInlineComment("; all of it"));
  EXPECT_FALSE(core::LooksLikeInlineComment("8080"));
  EXPECT_FALSE(core::LooksLikeInlineComment("a;b"));  // a name may hold a semicolon
  EXPECT_FALSE(core::LooksLikeInlineComment(""));
}

}  // namespace
}  // namespace qv
