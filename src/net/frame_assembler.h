#pragma once
// Frame assembly without a socket: bytes of one incoming connection go in; complete frames,
// the decision to spool a large payload and "close this connection" come out. The state lives
// in the user's TmyConnection, so a frame may arrive in any number of pieces and events.
#include <climits>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "state/connection_state.h"
#include "wire/messages.h"

namespace qv::net {

// What the assembler needs of the frame receiver.
class FrameEvents {
 public:
  // A fresh spool file name for a payload over wire::frame::kMaxInMemoryPayload bytes.
  virtual std::string SpoolFileName() = 0;
  // A complete payload: in state.RecvBuffer, or (state.Spooling) in the open state.SpoolStream.
  // The handler may take the spool file; the assembler releases whatever is left afterwards.
  virtual void FrameComplete(state::TmyConnection& state) = 0;

 protected:
  ~FrameEvents() = default;
};

enum class FeedResult { Continue, Close };

class FrameAssembler {
 public:
  // A frame longer than maxFrameBytes is refused before a byte of it is stored (message 21,
  // Close).
  FrameAssembler(state::TmyConnection& state, FrameEvents& events, wire::LogSink& log,
                 std::string_view host, int64_t maxFrameBytes = INT32_MAX)
      : state_(state), events_(events), log_(log), host_(host), maxFrameBytes_(maxFrameBytes) {}

  // Where the next received bytes go: at most `available` bytes, never past the current header,
  // skipped bytes or payload chunk. Close when the state is broken (then nothing is wanted).
  FeedResult Space(int available, std::span<uint8_t>& space);
  // n bytes were written into the last Space; `waiting` bytes are still to come in this event.
  // Completes the header, the frame or both. Close: the connection must go (bad length, no
  // memory, no spool file). Throws when the spool file cannot be written.
  FeedResult Commit(int n, int waiting);

  // Space and Commit over a byte string, for callers that hold the bytes already. Returns the
  // number of bytes taken; fewer than bytes.size() only when the result is Close.
  FeedResult Feed(std::span<const uint8_t> bytes, int waitingAfter, size_t& taken);

 private:
  FeedResult StartFrame(int waiting);
  void FinishFrame();

  state::TmyConnection& state_;
  FrameEvents& events_;
  wire::LogSink& log_;
  std::string host_;
  int64_t maxFrameBytes_;
};

// Forgets a frame in progress (closing and deleting a partial spool file).
void ResetReceiveState(state::TmyConnection& state);

}  // namespace qv::net
