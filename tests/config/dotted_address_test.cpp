#include <gtest/gtest.h>

#include "config/dotted_address.h"
#include "net/socket_error_text.h"
#include "net/user_lookup.h"
#include "platform/socket_errors.h"

namespace qv::net {
namespace {

TEST(DottedAddressCheck, AcceptsFourNumbersAndNormalisesThem) {
  std::string normalised = "unchanged";
  EXPECT_FALSE(config::CheckDottedAddress("1.2.3", normalised));
  EXPECT_FALSE(config::CheckDottedAddress("1.2.3.4.5", normalised));
  EXPECT_FALSE(config::CheckDottedAddress("", normalised));
  EXPECT_FALSE(config::CheckDottedAddress("a.b.c.d", normalised));
  EXPECT_FALSE(config::CheckDottedAddress("host.example.com", normalised));
  EXPECT_EQ(normalised, "unchanged");

  ASSERT_TRUE(config::CheckDottedAddress("010.1.1.1", normalised));
  EXPECT_EQ(normalised, "10.1.1.1");
  ASSERT_TRUE(config::CheckDottedAddress("192.168.001.010", normalised));
  EXPECT_EQ(normalised, "192.168.1.10");
  ASSERT_TRUE(config::CheckDottedAddress("1.2.3.-4", normalised));  // no range check
  EXPECT_EQ(normalised, "1.2.3.-4");
  ASSERT_TRUE(config::CheckDottedAddress("+1.2.3.400", normalised));
  EXPECT_EQ(normalised, "1.2.3.400");
}

TEST(SocketErrors, MapToWindowsSocketsNumbersAndTexts) {
  EXPECT_EQ(platform::WsaErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(platform::WsaErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(platform::WsaErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(platform::WsaErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(platform::WsaErrorFromErrno(EHOSTUNREACH), 10065);

  std::string text;
  ASSERT_TRUE(SocketErrorText(10054, text));
  EXPECT_EQ(text,
            "WSAECONNRESET           (WSABASEERR+54) An existing connection was forcibly closed "
            "by the remote host.");
  ASSERT_TRUE(SocketErrorText(10001, text));  // an empty line still counts as found
  EXPECT_EQ(text, "");
  ASSERT_TRUE(SocketErrorText(10112, text));
  EXPECT_FALSE(SocketErrorText(10113, text));
  EXPECT_FALSE(SocketErrorText(11001, text));
  EXPECT_FALSE(SocketErrorText(9999, text));
}

}  // namespace
}  // namespace qv::net
