// The [Feed] section: defaults, values, and what is wrong with bad ones.
#include "config/feed_settings.h"

#include <gtest/gtest.h>

#include "config/default_config.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace qv::config {
namespace {

TEST(FeedSettings, MissingSectionMeansNoListenerAndTheDefaultFileWritesNone) {
  test::TempDir dir;
  IniStore ini(dir.Path() + "/Server.ini");
  WriteDefaultConfig(ini, kCharsetRussian);
  EXPECT_TRUE(ini.ReadSection("Feed").Entries().empty());
  const FeedSettings s = ReadFeedSettings(ini);
  EXPECT_EQ(s.Port, 0);
  EXPECT_EQ(s.Address, "127.0.0.1");
  EXPECT_TRUE(s.Allow.empty());
  EXPECT_TRUE(s.Problems.empty());
  EXPECT_EQ(s.CodePage, "CP1251");  // the Russian character set
}

TEST(FeedSettings, ValuesAndProblems) {
  test::TempDir dir;
  test::WriteFile(dir.Path() + "/Server.ini",
                  "[Options]\r\nApplicationCharset=5\r\nLanguage=0\r\n[Feed]\r\nPort=8080\r\n"
                  "Address=0.0.0.0\r\nAllow=10.0.0.0/8, 192.168.1.7 ,bad, 1.2.3.4/33,\r\n");
  FeedSettings s = ReadFeedSettings(IniStore(dir.Path() + "/Server.ini"));
  EXPECT_EQ(s.Port, 8080);
  EXPECT_EQ(s.Address, "0.0.0.0");
  ASSERT_EQ(s.Allow.size(), 2u);
  EXPECT_TRUE(s.Allow[0].Contains(*ParseIpv4("10.200.1.1")));
  EXPECT_FALSE(s.Allow[0].Contains(*ParseIpv4("11.0.0.1")));
  EXPECT_TRUE(s.Allow[1].Contains(*ParseIpv4("192.168.1.7")));
  EXPECT_FALSE(s.Allow[1].Contains(*ParseIpv4("192.168.1.8")));
  ASSERT_EQ(s.Problems.size(), 2u);
  EXPECT_NE(s.Problems[0].find("bad"), std::string::npos);
  EXPECT_NE(s.Problems[1].find("1.2.3.4/33"), std::string::npos);
  EXPECT_EQ(s.CodePage, "CP1252");

  test::WriteFile(dir.Path() + "/Server.ini",
                  "[Options]\r\nLanguage=1\r\n[Feed]\r\nPort=99999\r\nAddress=localhost\r\n");
  s = ReadFeedSettings(IniStore(dir.Path() + "/Server.ini"));
  EXPECT_EQ(s.Port, 0);  // neither a bad port nor a bad address opens anything
  EXPECT_EQ(s.Problems.size(), 2u);
  EXPECT_EQ(s.CodePage, "CP1251");  // Russian language, whatever the character set
  EXPECT_EQ(s.MaxClients, 256);
  EXPECT_TRUE(s.Proxy.empty());

  test::WriteFile(dir.Path() + "/Server.ini",
                  "[Feed]\r\nPort=8080\r\nMaxClients=12\r\nProxy=10.0.0.5\r\n");
  s = ReadFeedSettings(IniStore(dir.Path() + "/Server.ini"));
  EXPECT_EQ(s.MaxClients, 12);
  EXPECT_EQ(s.Proxy, "10.0.0.5");
  EXPECT_TRUE(s.Problems.empty());
  test::WriteFile(dir.Path() + "/Server.ini",
                  "[Feed]\r\nPort=8080\r\nMaxClients=-1\r\nProxy=proxy.local\r\n");
  s = ReadFeedSettings(IniStore(dir.Path() + "/Server.ini"));
  EXPECT_EQ(s.MaxClients, 256);
  EXPECT_TRUE(s.Proxy.empty());
  EXPECT_EQ(s.Problems.size(), 2u);
  EXPECT_EQ(s.Port, 8080);  // a bad bound or proxy leaves the listener on
}

TEST(FeedSettings, AddressesAndRanges) {
  EXPECT_EQ(ParseIpv4("127.0.0.1"), 0x7F000001u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1..2.3", "a.b.c.d", "1.2.3.4 "}) {
    EXPECT_FALSE(ParseIpv4(bad)) << bad;
  }
  const auto all = ParseAddressRange("0.0.0.0/0");
  ASSERT_TRUE(all);
  EXPECT_TRUE(all->Contains(0xFFFFFFFFu));
  const auto net = ParseAddressRange(" 10.1.2.3/24 ");  // host bits cleared
  ASSERT_TRUE(net);
  EXPECT_EQ(net->Network, 0x0A010200u);
  EXPECT_FALSE(ParseAddressRange("10.1.2.3/"));
}

}  // namespace
}  // namespace qv::config
