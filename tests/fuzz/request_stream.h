#pragma once
// The fuzz target's harness: one input is the byte stream of one client's incoming connection,
// fed in chunks to the frame assembler of an in-process server whose request handlers are the
// real data request dispatch and mail handling. Replies go to a sink that reads every byte of
// them; no sockets, threads or waits. Each run starts from an emptied datafile and POP3
// directory and from groups and users reset to their start-up state, so runs do not depend on
// each other. The server and its large buffers are kept from run to run: making them anew each
// time cost more than the run itself.
//
// Input: byte 0 holds flags, byte 1 seeds or sizes the chunking, the rest is the stream.
//   bits 0-2 of byte 0, how the stream is cut into receive events:
//     0 one piece; 1 single bytes; 2..5 pseudo-random pieces of 1..8, 1..64, 1..4096 or
//     1..65536 bytes (byte 1 seeds them); 6 pieces of 4 bytes; 7 a table: byte 1 holds a count
//     k, and k little-endian uint16 piece sizes follow it (0 counts as 1), used in turn.
//   bit 3: the sender is dave (a group without a datafile) instead of alice.
//   bit 4: the stream is the payload of one frame just over the spool threshold, padded with
//     zeros, so that the spooled paths (spooled mail, a spooled non-request) are reached.
//   bit 5: two clients: the receive events go in turn to the sender and to a second user (bob,
//     or alice when the sender is dave), each with its own receive state, so that one user's
//     marks, polls and mail meet another's requests.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/poll_loop.h"
#include "state/server.h"
#include "support/recording_front_end.h"
#include "support/temp_dir.h"

namespace qv::fuzz {

constexpr uint8_t kChunkMask = 0x07;
constexpr uint8_t kChunkWhole = 0;
constexpr uint8_t kChunkBytes = 1;
constexpr uint8_t kChunkTable = 7;
constexpr uint8_t kSenderDave = 0x08;
constexpr uint8_t kSpooledFrame = 0x10;
constexpr uint8_t kTwoClients = 0x20;

struct RunSummary {
  int dataRequests = 0;
  int mailPackages = 0;
  int replies = 0;
  int64_t replyBytes = 0;
  int mailWorkersStarted = 0;
  int closes = 0;          // the connection would have been closed (a fresh one goes on)
  int receiveErrors = 0;   // a spool file could not be written
  int storedMessages = 0;  // message files in POP3 after the run
  // A 00 00 2F 09 header was repaired: how depends on the bytes at hand, so on the cutting.
  bool headerRepaired = false;
  std::vector<std::string> violations;  // broken invariants of the server's files: a finding
};

class RequestStreamHarness {
 public:
  RequestStreamHarness();
  RunSummary Run(std::span<const uint8_t> input);

 private:
  void Reset();
  void CheckAndEmptyFiles(RunSummary& summary) const;

  test::TempDir dir_;
  platform::PollLoop loop_;
  test::RecordingFrontEnd front_;
  std::unique_ptr<state::Server> server_;
  std::vector<uint8_t> zeros_;  // the padding of a spooled frame
};

// An input of the layout above.
std::vector<uint8_t> MakeInput(uint8_t flags, uint8_t seed, std::span<const uint8_t> stream);

// Runs input, and once more in one piece when it is cut into pieces for one client without a
// repaired header: both runs must hand over, answer and store the same. Returns the first run's
// summary with every difference added to its violations.
RunSummary RunAndCompareWhole(RequestStreamHarness& harness, std::span<const uint8_t> input);

}  // namespace qv::fuzz
