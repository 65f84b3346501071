// Short strings and scalar fields inside fixed byte layouts.
#include "wire/short_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace qv::wire {
namespace {

TEST(ShortString, LengthByteIsBoundedByCapacity) {
  uint8_t bytes[16] = {};
  const wire::ShortStringField field{2, 5};
  wire::WriteShortString(bytes, field, "abcdefgh");  // cut to 5
  EXPECT_EQ(bytes[2], 5);
  EXPECT_EQ(wire::ReadShortString(bytes, field), "abcde");
  EXPECT_EQ(bytes[8], 0) << "nothing written past the field";

  bytes[2] = 200;  // a damaged length byte
  EXPECT_EQ(wire::ReadShortString(bytes, field), "abcde");

  uint8_t target[8] = {};
  wire::CopyShortString(target, {0, 3}, bytes, field);
  EXPECT_EQ(target[0], 3);
  EXPECT_EQ(wire::ReadShortString(target, {0, 3}), "abc");
  EXPECT_EQ(target[4], 0);
}

TEST(ShortString, WritesKeepTheBytesBehindTheNewLengthAndNeverPassTheField) {
  uint8_t bytes[12];
  std::fill(std::begin(bytes), std::end(bytes), uint8_t{0xEE});
  const wire::ShortStringField field{1, 4};
  wire::WriteShortString(bytes, field, "wxyz");
  wire::WriteShortString(bytes, field, "ab");
  EXPECT_EQ(wire::ReadShortString(bytes, field), "ab");
  EXPECT_EQ(bytes[4], 'y') << "the old characters behind the length stay";
  EXPECT_EQ(bytes[0], 0xEE);
  EXPECT_EQ(bytes[6], 0xEE) << "offset + Size() is the first byte after the field";

  wire::WriteShortString(bytes, field, "");
  EXPECT_EQ(wire::ReadShortString(bytes, field), "");
  EXPECT_EQ(bytes[1], 0);
}

TEST(ShortString, ALengthByteNeverExceeds255WhateverTheCapacity) {
  std::vector<uint8_t> bytes(400, 0);
  const wire::ShortStringField wide{0, 300};
  wire::WriteShortString(bytes.data(), wide, std::string(300, 'q'));
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(wire::ReadShortString(bytes.data(), wide).size(), 255u);
  EXPECT_EQ(bytes[256], 0) << "nothing past the 255 characters a length byte can name";
}

TEST(ShortString, CopyWithinOneBufferHandlesOverlappingAndIdenticalFields) {
  uint8_t bytes[16] = {};
  wire::WriteShortString(bytes, {0, 8}, "abcdefgh");
  wire::CopyShortString(bytes, {2, 8}, bytes, {0, 8});  // overlaps its own source
  EXPECT_EQ(wire::ReadShortString(bytes, {2, 8}), "abcdefgh");
  wire::CopyShortString(bytes, {2, 8}, bytes, {2, 8});
  EXPECT_EQ(wire::ReadShortString(bytes, {2, 8}), "abcdefgh");
}

}  // namespace
}  // namespace qv::wire
