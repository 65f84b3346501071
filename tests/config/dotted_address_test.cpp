#include <gtest/gtest.h>

#include "config/dotted_address.h"
#include "net/user_lookup.h"

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

}  // namespace
}  // namespace qv::net
