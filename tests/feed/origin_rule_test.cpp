// The same-origin rule of WebSocket upgrades and changing requests.
#include "feed/origin_rule.h"

#include <gtest/gtest.h>

namespace qv::feed {
namespace {

TEST(OriginRule, OnlyThePagesOwnOriginMatches) {
  EXPECT_TRUE(OriginMatchesHost("http://127.0.0.1:8080", "127.0.0.1:8080", "http"));
  EXPECT_TRUE(OriginMatchesHost("http://Office.Example:8080", "office.example:8080", "http"));
  EXPECT_TRUE(OriginMatchesHost("http://office", "office:80", "http"));  // default port
  EXPECT_TRUE(OriginMatchesHost("https://office:443", "office", "https"));

  EXPECT_FALSE(OriginMatchesHost("", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("null", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("http://evil.example", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("http://127.0.0.1:8081", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("https://127.0.0.1:8080", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("http://127.0.0.1:8080", "127.0.0.1:8080", "https"));
  EXPECT_FALSE(OriginMatchesHost("http://127.0.0.1:8080/", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("http://user@127.0.0.1:8080", "127.0.0.1:8080", "http"));
  EXPECT_FALSE(OriginMatchesHost("http://127.0.0.1:8080", "", "http"));
}

}  // namespace
}  // namespace qv::feed
