// Loading a received request (zero-padding, realignment) and the replies built from it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "service/request_package.h"

namespace qv::service {
namespace {

std::vector<uint8_t> Package(int32_t codeValue, int32_t subcodeValue, size_t size) {
  std::vector<uint8_t> p(size, 0xAB);
  wire::SetInt32At(p.data(), 0, codeValue);
  wire::SetInt32At(p.data(), 4, subcodeValue);
  return p;
}

TEST(RequestPackageTest, ShortRequestIsZeroPaddedAndNothingBeyondItIsRead) {
  // Bytes past the received size hold a marker that must not show up in the package.
  std::vector<uint8_t> buffer = Package(2, 7, 2351);
  wire::RequestPackage package;
  package.fill(0xEE);
  EXPECT_EQ(LoadRequest(buffer.data(), 40, package), Alignment::Aligned);
  EXPECT_EQ(wire::Int32At(package.data(), 0), 2);
  EXPECT_EQ(wire::Int32At(package.data(), 4), 7);
  EXPECT_EQ(package[39], 0xAB);
  for (size_t i = 40; i < package.size(); ++i) ASSERT_EQ(package[i], 0) << i;

  // Three bytes: the code's missing byte reads as zero.
  const uint8_t three[3] = {0x05, 0x00, 0x00};
  EXPECT_EQ(LoadRequest(three, 3, package), Alignment::Aligned);
  EXPECT_EQ(wire::Int32At(package.data(), 0), 5);

  // Longer than a request: only 2351 bytes are taken.
  std::vector<uint8_t> longer = Package(3, 0, 3000);
  EXPECT_EQ(LoadRequest(longer.data(), 3000, package), Alignment::Aligned);
  EXPECT_EQ(package[2350], 0xAB);
}

TEST(RequestPackageTest, RealignmentByTwoBytes) {
  // A 7001 request seen two bytes late: two stray bytes, then the package.
  std::vector<uint8_t> shifted(2351, 0);
  wire::SetInt32At(shifted.data() + 2, 0, 7001);
  wire::SetInt32At(shifted.data() + 2, 4, 9);
  shifted[2 + 30] = 1;
  shifted[2349] = 0x77;  // the last received byte lands at 2347
  shifted[2350] = 0x66;
  wire::RequestPackage package;
  EXPECT_EQ(LoadRequest(shifted.data(), 2351, package), Alignment::Corrected);
  EXPECT_EQ(wire::Int32At(package.data(), 0), 7001);
  EXPECT_EQ(wire::Int32At(package.data(), 4), 9);
  EXPECT_EQ(package[30], 1);
  EXPECT_EQ(package[2347], 0x77);
  EXPECT_EQ(package[2348], 0x66);
  EXPECT_EQ(package[2349], 0);  // never filled from beyond the received bytes
  EXPECT_EQ(package[2350], 0);

  // Code 0 realigns to code 0, which is accepted.
  std::vector<uint8_t> zeros(100, 0);
  EXPECT_EQ(LoadRequest(zeros.data(), 100, package), Alignment::Corrected);
  EXPECT_EQ(wire::Int32At(package.data(), 0), 0);

  // A realigned code above 16384 or below 0 is not a request.
  std::vector<uint8_t> bad(100, 0);
  wire::SetInt32At(bad.data() + 2, 0, 20000);
  EXPECT_EQ(LoadRequest(bad.data(), 100, package), Alignment::Incorrect);
  wire::SetInt32At(bad.data() + 2, 0, -1);
  EXPECT_EQ(LoadRequest(bad.data(), 100, package), Alignment::Incorrect);
  // 16384 itself is still a code.
  wire::SetInt32At(bad.data(), 0, 16384);
  EXPECT_EQ(LoadRequest(bad.data(), 100, package), Alignment::Aligned);
  wire::SetInt32At(bad.data(), 0, 16385);
  wire::SetInt32At(bad.data() + 2, 0, 16384);
  EXPECT_EQ(LoadRequest(bad.data(), 100, package), Alignment::Corrected);

  // Fewer than two bytes cannot be realigned.
  const uint8_t one[1] = {0};
  EXPECT_EQ(LoadRequest(one, 1, package), Alignment::Incorrect);
  EXPECT_EQ(LoadRequest(nullptr, 0, package), Alignment::Incorrect);
  const uint8_t two[2] = {0, 0};
  EXPECT_EQ(LoadRequest(two, 2, package), Alignment::Corrected);
}

TEST(RequestPackageTest, AcknowledgmentCodes) {
  for (const int32_t requestCode : {40, 41, 42, 4}) {
    wire::RequestPackage requestBytes{};
    wire::SetCodes(requestBytes.data(), requestCode, 12);
    wire::SetDoubleAt(requestBytes.data(), wire::request::kDateOffset, 46000.75);
    requestBytes[wire::request::kMarkFlagOffset] = 1;
    wire::SetInt32At(requestBytes.data(), wire::request::kSlotIdOffset, 0x1234);
    requestBytes[wire::request::kSlotFlagOffset] = 9;
    wire::RequestPackage notice{};
    notice.fill(0x11);
    ResetChangeNotice(notice, requestBytes);
    // What an edit saved: an old slot time and text.
    wire::WriteShortString(notice.data(), wire::request::kSlotTime, " 9.00");
    wire::WriteShortString(notice.data(), wire::request::kText, "old");
    BuildAcknowledgment(notice, requestBytes);
    SCOPED_TRACE(requestCode);
    EXPECT_EQ(wire::Int32At(notice.data(), 0), 3000);
    EXPECT_EQ(wire::Int32At(notice.data(), 4), 12);
    EXPECT_EQ(wire::Int32At(notice.data(), 8), wire::AcknowledgedCode(requestCode));
    EXPECT_EQ(wire::DoubleAt(notice.data(), wire::request::kDateOffset), 46000.75);
    EXPECT_EQ(notice[wire::request::kMarkFlagOffset], 1);
    const bool insert = requestCode == 40 || requestCode == 42;
    EXPECT_EQ(notice[41], insert ? 0 : 5);
    EXPECT_EQ(notice[47], insert ? 0 : 3);
    EXPECT_EQ(wire::Int32At(notice.data(), wire::request::kSlotIdOffset),
              requestCode == 41 ? 0x1234 : 0);
    EXPECT_EQ(notice[wire::request::kSlotFlagOffset], requestCode == 41 ? 9 : 0);
    EXPECT_EQ(notice[2000], 0x11);  // what the notice last held stays
  }
}

TEST(RequestPackageTest, HelloReplyAndRefusal) {
  wire::RequestPackage p{};
  p.fill(0x5A);
  wire::SetCodes(p.data(), 1000, 1);
  BuildHelloReply(p, "alice", 45000.0);
  EXPECT_EQ(wire::Int32At(p.data(), 0), 1000);
  EXPECT_EQ(wire::Int32At(p.data(), 4), 2);
  for (size_t i = 41; i < 47; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(wire::ReadShortString(p.data(), wire::hello::kUserName), "alice");
  EXPECT_EQ(p[303], 6);
  EXPECT_EQ(std::memcmp(p.data() + 304, "SERVER", 6), 0);
  EXPECT_EQ(wire::DoubleAt(p.data(), 560), 45000.0);
  EXPECT_EQ(p[8], 0x5A);  // echoed
  EXPECT_EQ(p[2350], 0x5A);

  wire::RequestPackage r{};
  wire::SetCodes(r.data(), 2, 3);
  BuildRefusal(r);
  EXPECT_EQ(wire::Int32At(r.data(), 0), 7000);
  EXPECT_EQ(wire::Int32At(r.data(), 4), 3);
  EXPECT_EQ(wire::Int32At(r.data(), 8), 2);
}

}  // namespace
}  // namespace qv::service
