#include "core/check_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "support/temp_dir.h"

namespace qv {
namespace {

struct Checked {
  bool ok = false;
  std::string out;
};

Checked Check(const std::string& dir) {
  Checked result;
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return result;
  result.ok = CheckConfiguration(dir, file);
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
  EXPECT_NE(checked.out.find("No Server.ini in " + missing), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("Created file Server.ini"), std::string::npos);
  EXPECT_NE(checked.out.find("User list of server is empty. See Settings"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace qv
