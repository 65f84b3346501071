#include "net/socket_error_text.h"

#include <gtest/gtest.h>

namespace qv::net {
namespace {

TEST(SocketErrorTexts, LinesByCode) {
  std::string text = "stale";
  ASSERT_TRUE(SocketErrorText(10000, text));
  EXPECT_EQ(text, "10000");
  ASSERT_TRUE(SocketErrorText(10054, text));
  EXPECT_EQ(text,
            "WSAECONNRESET           (WSABASEERR+54) An existing connection was forcibly closed "
            "by the remote host.");
  ASSERT_TRUE(SocketErrorText(10013, text));
  EXPECT_EQ(text, "WSAEACCES");
  ASSERT_TRUE(SocketErrorText(10112, text));
  EXPECT_EQ(text.rfind("WSAEREFUSED", 0), 0u);
  // A code in range without a text of its own is found, with an empty text.
  text = "stale";
  ASSERT_TRUE(SocketErrorText(10001, text));
  EXPECT_EQ(text, "");
  ASSERT_TRUE(SocketErrorText(10090, text));
  EXPECT_EQ(text, "");
  // Outside the 113 lines there is no text.
  EXPECT_FALSE(SocketErrorText(9999, text));
  EXPECT_FALSE(SocketErrorText(10113, text));
  EXPECT_FALSE(SocketErrorText(11001, text));
  EXPECT_FALSE(SocketErrorText(-1, text));
}

TEST(SocketErrorTexts, EveryCodeTheSocketsReportHasItsName) {
  const std::pair<int, const char*> named[] = {
      {10035, "WSAEWOULDBLOCK"},  {10060, "WSAETIMEDOUT"},  {10061, "WSAECONNREFUSED"},
      {10065, "WSAEHOSTUNREACH"}, {10048, "WSAEADDRINUSE"}, {10004, "WSAEINTR"}};
  for (const auto& [code, name] : named) {
    std::string text;
    ASSERT_TRUE(SocketErrorText(code, text)) << code;
    EXPECT_EQ(text.rfind(name, 0), 0u) << code << ": " << text;
  }
}

}  // namespace
}  // namespace qv::net
