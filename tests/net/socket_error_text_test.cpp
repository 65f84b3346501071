#include "net/socket_error_text.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "net/socket_error_number.h"
#include "platform/system_error.h"

namespace qv::net {
namespace {

TEST(SocketErrorTexts, LinesByCode) {
  EXPECT_EQ(SocketErrorText(10000), "10000");
  EXPECT_EQ(SocketErrorText(10054),
            "WSAECONNRESET           (WSABASEERR+54) An existing connection was forcibly closed "
            "by the remote host.");
  EXPECT_EQ(SocketErrorText(10013), "WSAEACCES");
  ASSERT_TRUE(SocketErrorText(10112));
  EXPECT_EQ(SocketErrorText(10112)->rfind("WSAEREFUSED", 0), 0u);
  // A code in range without a text of its own is found, with an empty text.
  EXPECT_EQ(SocketErrorText(10001), "");
  EXPECT_EQ(SocketErrorText(10090), "");
  // Outside the 113 lines there is no text.
  EXPECT_FALSE(SocketErrorText(9999));
  EXPECT_FALSE(SocketErrorText(10113));
  EXPECT_FALSE(SocketErrorText(11001));
  EXPECT_FALSE(SocketErrorText(-1));
}

TEST(SocketErrorTexts, EveryErrorTheSocketsReportHasANumberWithItsName) {
  const std::pair<int, const char*> named[] = {
      {EAGAIN, "WSAEWOULDBLOCK"},        {ETIMEDOUT, "WSAETIMEDOUT"},
      {ECONNREFUSED, "WSAECONNREFUSED"}, {EHOSTUNREACH, "WSAEHOSTUNREACH"},
      {EADDRINUSE, "WSAEADDRINUSE"},     {EINTR, "WSAEINTR"},
      {ECONNRESET, "WSAECONNRESET"},     {EPIPE, "WSAECONNRESET"}};
  for (const auto& [error, name] : named) {
    const int number = SocketErrorNumber(platform::SystemError(error));
    const auto text = SocketErrorText(number);
    ASSERT_TRUE(text) << error << " -> " << number;
    EXPECT_EQ(text->rfind(name, 0), 0u) << error << ": " << *text;
  }
}

TEST(SocketErrorNumbers, FromErrnoAndFromLookups) {
  EXPECT_EQ(SocketErrorNumber({}), 0);
  EXPECT_EQ(SocketErrorNumber(platform::SystemError(EAGAIN)), 10035);
  EXPECT_EQ(SocketErrorNumber(platform::SystemError(ECONNRESET)), 10054);
  EXPECT_EQ(SocketErrorNumber(platform::SystemError(ECONNREFUSED)), 10061);
  EXPECT_EQ(SocketErrorNumber(std::make_error_code(std::errc::timed_out)), 10060);
  EXPECT_EQ(SocketErrorNumber(platform::SystemError(ENOENT)), 10107) << "no closer equivalent";
  EXPECT_EQ(SocketErrorNumber(platform::ResolverError(EAI_NONAME, 0)), kHostNotFoundNumber);
  EXPECT_EQ(SocketErrorNumber(platform::ResolverError(EAI_AGAIN, 0)), 11002);
  EXPECT_EQ(SocketErrorNumber(platform::ResolverError(EAI_SYSTEM, ECONNREFUSED)), 10061)
      << "a lookup that failed in a system call reports that call's error";
  EXPECT_FALSE(platform::ResolverError(0, EIO));
  EXPECT_TRUE(platform::IsWouldBlock(platform::SystemError(EWOULDBLOCK)));
  EXPECT_FALSE(platform::IsWouldBlock(platform::SystemError(ECONNRESET)));
}

}  // namespace
}  // namespace qv::net
