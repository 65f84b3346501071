#include "state/send_buffers.h"

#include <gtest/gtest.h>

namespace qv::state {
namespace {

TEST(SendBuffersTest, LargeBuffersAreReusedSmallOnesAndSurplusAreNot) {
  state::SendBuffers buffers;
  EXPECT_EQ(buffers.Take(400000).capacity(), 0u);  // nothing kept yet: a new buffer

  std::vector<uint8_t> large(400000, 7);
  const uint8_t* storage = large.data();
  buffers.Give(std::move(large));
  EXPECT_EQ(buffers.Kept(), 1u);
  // A smaller piece that still needs a kept buffer's size gets it, emptied.
  std::vector<uint8_t> again = buffers.Take(300000);
  EXPECT_EQ(again.data(), storage);
  EXPECT_TRUE(again.empty());
  EXPECT_GE(again.capacity(), 400000u);
  EXPECT_EQ(buffers.Kept(), 0u);

  // A kept buffer too small for the piece stays kept.
  buffers.Give(std::vector<uint8_t>(state::SendBuffers::kMinKeptBytes));
  EXPECT_EQ(buffers.Take(state::SendBuffers::kMinKeptBytes + 1).capacity(), 0u);
  EXPECT_EQ(buffers.Kept(), 1u);
  // Small pieces neither take kept buffers nor leave theirs.
  EXPECT_EQ(buffers.Take(100).capacity(), 0u);
  buffers.Give(std::vector<uint8_t>(100));
  EXPECT_EQ(buffers.Kept(), 1u);

  for (size_t i = 0; i < state::SendBuffers::kMaxKept + 3; ++i) {
    buffers.Give(std::vector<uint8_t>(state::SendBuffers::kMinKeptBytes));
  }
  EXPECT_EQ(buffers.Kept(), state::SendBuffers::kMaxKept);
}

}  // namespace
}  // namespace qv::state
