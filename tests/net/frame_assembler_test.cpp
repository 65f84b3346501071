// The frame assembler fed bytes directly, without sockets: frames cut at every possible place,
// empty frames, negative and huge lengths, the 00 00 2F 09 repair and spooling.
#include "net/frame_assembler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "wire/packages.h"

namespace qv::net {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(int32_t length) {
  Bytes bytes(4);
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

Bytes Payload(int32_t code, size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  if (size >= 4) std::memcpy(bytes.data(), &code, 4);
  return bytes;
}

Bytes Frame(const Bytes& payload) {
  Bytes bytes = Header(static_cast<int32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class RecordingLog final : public wire::LogSink {
 public:
  void Write(std::string_view text) override { lines.emplace_back(text); }
  void WriteMsg(wire::MsgId id, std::string_view suffix) override {
    lines.push_back("#" + std::to_string(Index(id)) + std::string(suffix));
  }
  std::vector<std::string> lines;
};

// Keeps every completed payload, read back from memory or from the spool file.
class Recorder final : public FrameEvents {
 public:
  explicit Recorder(std::string spoolDir) : spoolDir_(std::move(spoolDir)) {}

  std::string SpoolFileName() override {
    return spoolDir_ + "/host" + std::to_string(++spools) + ".buf";
  }
  void FrameComplete(state::TmyConnection& state) override {
    if (!state.Spooling) {
      frames.push_back(state.RecvBuffer);
      return;
    }
    spooled.push_back(state.SpoolFileName);
    Bytes bytes(static_cast<size_t>(state.SpoolStream->Size()));
    state.SpoolStream->Seek(0);
    size_t got = 0;
    while (got < bytes.size()) {
      const size_t n = state.SpoolStream->ReadSome(bytes.data() + got, bytes.size() - got);
      if (n == 0) break;
      got += n;
    }
    frames.push_back(bytes);
  }

  std::vector<Bytes> frames;
  std::vector<std::string> spooled;
  int spools = 0;

 private:
  std::string spoolDir_;
};

struct Fixture {
  test::TempDir dir;
  state::TmyConnection state;
  RecordingLog log;
  Recorder events{dir.Path()};
  FrameAssembler assembler{state, events, log, "pc7"};

  FeedResult Feed(const Bytes& bytes, size_t from, size_t to, int waitingAfter = 0) {
    size_t taken = 0;
    const FeedResult result = assembler.Feed(
        std::span<const uint8_t>(bytes.data() + from, to - from), waitingAfter, taken);
    if (result == FeedResult::Continue) {
      EXPECT_EQ(taken, to - from);
    }
    return result;
  }
};

TEST(FrameAssemblerTest, EveryCutOfHeadersAndPayloadsGivesTheSameFramesInOrder) {
  const Bytes first = Payload(1000, 10, 1);
  const Bytes second = Payload(40, static_cast<size_t>(wire::request::kSize), 2);
  const Bytes third = Payload(7, 1, 3);  // shorter than its code
  const Bytes stream =
      Join({Header(0), Frame(first), Header(0), Frame(second), Frame(third), Header(0)});
  // One cut anywhere: inside a header, between header and payload, inside a payload.
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    Fixture f;
    ASSERT_EQ(f.Feed(stream, 0, cut, static_cast<int>(stream.size() - cut)), FeedResult::Continue);
    ASSERT_EQ(f.Feed(stream, cut, stream.size()), FeedResult::Continue);
    ASSERT_EQ(f.events.frames.size(), 3u) << "cut at " << cut;
    EXPECT_EQ(f.events.frames[0], first);
    EXPECT_EQ(f.events.frames[1], second);
    EXPECT_EQ(f.events.frames[2], third);
    EXPECT_EQ(f.state.Remaining, 0);
    EXPECT_TRUE(f.state.RecvBuffer.empty());
    EXPECT_TRUE(f.log.lines.empty());
  }
  // One byte at a time: every header and payload arrives in pieces.
  Fixture f;
  for (size_t i = 0; i < stream.size(); ++i) {
    ASSERT_EQ(f.Feed(stream, i, i + 1, 0), FeedResult::Continue);
  }
  ASSERT_EQ(f.events.frames.size(), 3u);
  EXPECT_EQ(f.events.frames[1], second);
}

TEST(FrameAssemblerTest, EmptyFramesAndPartialHeadersHandOverNothing) {
  Fixture f;
  const Bytes empties = Join({Header(0), Header(0), Header(0)});
  ASSERT_EQ(f.Feed(empties, 0, empties.size()), FeedResult::Continue);
  const Bytes header = Header(5);
  ASSERT_EQ(f.Feed(header, 0, 3), FeedResult::Continue);
  EXPECT_TRUE(f.events.frames.empty());
  EXPECT_EQ(f.state.Remaining, 0);
  EXPECT_EQ(f.state.HeaderFill, 3);
  ResetReceiveState(f.state);  // a new connection starts afresh
  EXPECT_EQ(f.state.HeaderFill, 0);
}

TEST(FrameAssemblerTest, NegativeLengthsCloseTheConnectionAndLeaveAFreshState) {
  for (const int32_t length : {-1, -2351, INT32_MIN}) {
    Fixture f;
    const Bytes bytes = Join({Header(length), Payload(1, 8, 0)});
    size_t taken = 0;
    EXPECT_EQ(f.assembler.Feed(bytes, 0, taken), FeedResult::Close) << length;
    EXPECT_EQ(taken, 4u);
    EXPECT_EQ(f.log.lines, std::vector<std::string>{"Memory allocation for buffer. Error!"});
    EXPECT_EQ(f.state.Remaining, 0);
    EXPECT_TRUE(f.state.RecvBuffer.empty());
    EXPECT_TRUE(f.events.frames.empty());
  }
}

TEST(FrameAssemblerTest, LargestInMemoryFrameStaysInMemoryAndLargerOnesAreSpooled) {
  using wire::frame::kMaxInMemoryPayload;
  Fixture f;
  const Bytes inMemory = Payload(1000, static_cast<size_t>(kMaxInMemoryPayload), 4);
  const Bytes spooled = Payload(4000, static_cast<size_t>(kMaxInMemoryPayload) + 1, 5);
  const Bytes stream = Join({Frame(inMemory), Frame(spooled)});
  // In pieces of 100000 bytes: the spool file is written chunk by chunk.
  for (size_t at = 0; at < stream.size(); at += 100000) {
    ASSERT_EQ(f.Feed(stream, at, std::min(stream.size(), at + 100000)), FeedResult::Continue);
  }
  ASSERT_EQ(f.events.frames.size(), 2u);
  EXPECT_EQ(f.events.frames[0], inMemory);
  EXPECT_EQ(f.events.frames[1], spooled);
  ASSERT_EQ(f.events.spooled.size(), 1u);
  // The spool file the handler did not take stays where it is, closed.
  EXPECT_TRUE(std::filesystem::exists(f.events.spooled[0]));
  EXPECT_FALSE(f.state.SpoolStream.has_value());
  EXPECT_FALSE(f.state.Spooling);
  EXPECT_LE(f.state.RecvBuffer.capacity(), static_cast<size_t>(kMaxInMemoryPayload));
}

TEST(FrameAssemblerTest, HugeLengthSpoolsWithoutAllocatingAndAResetDeletesThePartialFile) {
  Fixture f;
  const Bytes bytes = Join({Header(INT32_MAX), Payload(4000, 1000, 6)});
  ASSERT_EQ(f.Feed(bytes, 0, bytes.size()), FeedResult::Continue);
  EXPECT_TRUE(f.state.Spooling);
  EXPECT_EQ(f.state.RecvBuffer.size(), static_cast<size_t>(wire::frame::kMaxInMemoryPayload));
  EXPECT_EQ(f.state.Remaining, INT32_MAX - 1000);
  ASSERT_EQ(f.events.spools, 1);
  const std::string file = f.state.SpoolFileName;
  EXPECT_EQ(std::filesystem::file_size(file), 1000u);
  ResetReceiveState(f.state);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(f.events.frames.empty());
}

TEST(FrameAssemblerTest, SpoolFileThatCannotBeCreatedClosesTheConnection) {
  Fixture f;
  std::filesystem::remove_all(f.dir.Path());  // the spool directory is gone
  const Bytes bytes = Join({Header(wire::frame::kMaxInMemoryPayload + 1), Bytes(10, 1)});
  size_t taken = 0;
  EXPECT_EQ(f.assembler.Feed(bytes, 0, taken), FeedResult::Close);
  EXPECT_EQ(f.log.lines, std::vector<std::string>{"#21pc7"});
  EXPECT_FALSE(f.state.Spooling);
  EXPECT_EQ(f.state.Remaining, 0);
}

TEST(FrameAssemblerTest, MisalignedHeaderIsRepairedWhereverTheStreamIsCut) {
  const Bytes misaligned = {0x00, 0x00, 0x2F, 0x09};
  const Bytes lateHalf = {0x00, 0x00};  // the rest of the real header, dropped
  const Bytes payload = Payload(1000, static_cast<size_t>(wire::request::kSize) - 2, 7);
  const Bytes next = Payload(3, 12, 8);
  const Bytes stream = Join({misaligned, lateHalf, payload, Frame(next)});
  for (size_t cut = 0; cut <= 8; ++cut) {
    Fixture f;
    ASSERT_EQ(f.Feed(stream, 0, cut, static_cast<int>(stream.size() - cut)), FeedResult::Continue);
    ASSERT_EQ(f.Feed(stream, cut, stream.size()), FeedResult::Continue);
    ASSERT_EQ(f.events.frames.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(f.events.frames[0], payload);
    EXPECT_EQ(f.events.frames[1], next);
    EXPECT_EQ(f.log.lines, std::vector<std::string>{"#86[pc7]"});
  }
  // Nothing more waiting behind the header: the full 2351 bytes are expected.
  Fixture f;
  ASSERT_EQ(f.Feed(misaligned, 0, 4, 0), FeedResult::Continue);
  EXPECT_EQ(f.state.Remaining, wire::request::kSize);
  const Bytes whole = Payload(1000, static_cast<size_t>(wire::request::kSize), 9);
  ASSERT_EQ(f.Feed(whole, 0, whole.size()), FeedResult::Continue);
  ASSERT_EQ(f.events.frames.size(), 1u);
  EXPECT_EQ(f.events.frames[0], whole);
}

}  // namespace
}  // namespace qv::net
