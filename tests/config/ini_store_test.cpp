#include "config/ini_store.h"

#include <gtest/gtest.h>

#include "config/default_config.h"
#include "support/temp_dir.h"

namespace qv::config {
namespace {

TEST(IniStoreTest, NamesIgnoreCaseAndTheFirstEntryWins) {
  test::TempDir dir;
  dir.Write("Server.ini",
            "[options]\r\nDebug=1\r\nLanguage = 2 \r\nlanguage=9\r\n[DataBase - 1]\r\n"
            "Time Begin=9\r\n");
  IniStore ini(dir.File("Server.ini"));
  const IniSection options = ini.ReadSection("OPTIONS");
  ASSERT_EQ(options.Entries().size(), 3u);
  EXPECT_EQ(options.Entries()[0].Key, "Debug");
  EXPECT_EQ(options.Value("DEBUG"), "1");
  EXPECT_EQ(options.Value("Language"), "2");
  EXPECT_EQ(options.Value("Missing"), "");
  EXPECT_EQ(ini.ReadString("database - 1", "time begin"), "9");
  EXPECT_TRUE(ini.ReadSection("NoSuchSection").Entries().empty());
}

TEST(IniStoreTest, WritesReplaceInPlaceAppendToTheirSectionAndCreateSectionsAtTheEnd) {
  test::TempDir dir;
  IniStore ini(dir.File("Server.ini"));
  EXPECT_FALSE(ini.Exists());
  ini.WriteString("A", "k1", "1");  // the first write creates the file
  EXPECT_TRUE(ini.Exists());
  ini.WriteString("B", "x", "2");
  ini.WriteString("a", "K2", "3");   // appended to section A, before B
  ini.WriteString("A", "K1", "10");  // replaced where it stands
  EXPECT_EQ(dir.Read("Server.ini"), "[A]\r\nk1=10\r\nK2=3\r\n[B]\r\nx=2\r\n");
  ini.DeleteKey("A", "k2");
  ini.EraseSection("b");
  EXPECT_EQ(dir.Read("Server.ini"), "[A]\r\nk1=10\r\n");
  ini.DeleteKey("Nope", "k1");  // nothing to do, no error
  EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"A"});
}

TEST(IniStoreTest, KeepsForeignBytesLongLinesAndLinesItDoesNotUnderstand) {
  test::TempDir dir;
  const std::string longValue(100000, 'v');
  dir.Write("Server.ini",
            "; comment\n[S]\nbytes=\xC0\xFF\xFE\nnot an entry\nlong=" + longValue + "\n");
  IniStore ini(dir.File("Server.ini"));
  EXPECT_EQ(ini.ReadString("S", "bytes"), "\xC0\xFF\xFE");
  EXPECT_EQ(ini.ReadString("S", "long"), longValue);
  ini.WriteString("S", "new", "1");
  const std::string after = dir.Read("Server.ini");
  EXPECT_NE(after.find("; comment"), std::string::npos);
  EXPECT_NE(after.find("not an entry"), std::string::npos);
  EXPECT_EQ(ini.ReadString("S", "bytes"), "\xC0\xFF\xFE");
}

TEST(IniStoreTest, ParsesOnlyDecimalIntegersInRange) {
  int32_t v = 0;
  EXPECT_TRUE(TryParseInt("6340", v));
  EXPECT_EQ(v, 6340);
  EXPECT_TRUE(TryParseInt("-5", v));
  EXPECT_EQ(v, -5);
  EXPECT_TRUE(TryParseInt("+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(TryParseInt("", v));
  EXPECT_FALSE(TryParseInt("12a", v));
  EXPECT_FALSE(TryParseInt("++1", v));
  EXPECT_FALSE(TryParseInt("99999999999", v));
  EXPECT_FALSE(TryParseInt(" 1", v));
}

TEST(DefaultConfigTest, WritesTheSeventeenEntriesInOrder) {
  test::TempDir dir;
  IniStore ini(dir.File("Server.ini"));
  WriteDefaultConfig(ini, kCharsetRussian);
  EXPECT_EQ(dir.Read("Server.ini"),
            "[Options]\r\nApplicationCharset=4\r\nLanguage=1\r\n"
            "[NetWork]\r\nPort=6340\r\nDirectSend=1\r\nReconnect=5\r\nTCPNoDelay=1\r\n"
            "CheckInterval_ms=15000\r\n"
            "[DataBases]\r\nCount=1\r\nAlias1=First Group\r\n"
            "[DataBase - 1]\r\nName=\r\nCount=7\r\nCountArc=0\r\nTime Begin=9\r\nTime End=20\r\n"
            "Step=0\r\nUserCount=0\r\nArchive Link=0\r\n");
  test::TempDir other;
  IniStore english(other.File("Server.ini"));
  WriteDefaultConfig(english, 10);
  EXPECT_EQ(english.ReadString("Options", "ApplicationCharset"), "10");
  EXPECT_EQ(english.ReadString("Options", "Language"), "0");
}

}  // namespace
}  // namespace qv::config
