#include "net/frame_assembler.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/close_quietly.h"
#include "platform/files.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::net {
namespace {

using wire::frame::kHeaderSize;
using wire::frame::kMaxInMemoryPayload;

void ReleaseBuffer(state::TmyConnection& state) {
  std::vector<uint8_t>().swap(state.RecvBuffer);
}

void ReleaseSpool(state::TmyConnection& state) {
  if (state.SpoolStream) platform::CloseQuietly(*state.SpoolStream);
  state.SpoolStream.reset();
}

}  // namespace

void ResetReceiveState(state::TmyConnection& state) {
  if (state.SpoolStream) {
    ReleaseSpool(state);
    if (!state.SpoolFileName.empty()) platform::DeleteFile(state.SpoolFileName);
  }
  state.SpoolFileName.clear();
  state.Spooling = false;
  ReleaseBuffer(state);
  state.Remaining = state.Received = state.ChunkSize = state.WriteOffset = 0;
  state.HeaderFill = 0;
  state.SkipRemaining = 0;
  state.EmptyReceives = 0;
}

FeedResult FrameAssembler::Space(int available, std::span<uint8_t>& space) {
  space = {};
  if (available <= 0) return FeedResult::Continue;
  if (state_.Remaining == 0) {  // a length header is due
    const int wanted = std::min(kHeaderSize - state_.HeaderFill, available);
    space = std::span<uint8_t>(state_.HeaderBytes + state_.HeaderFill, static_cast<size_t>(wanted));
    return FeedResult::Continue;
  }
  if (state_.SkipRemaining > 0) {  // the two bytes of a repaired header
    const int wanted = std::min(state_.SkipRemaining, available);
    space = std::span<uint8_t>(state_.HeaderBytes, static_cast<size_t>(wanted));
    return FeedResult::Continue;
  }
  state_.ChunkSize = std::min({state_.Remaining, kMaxInMemoryPayload, available});
  // The chunk always fits the buffer: in memory the buffer has the frame's size, spooling it has
  // one chunk's size. Anything else is a broken state, never a write past the end.
  const int64_t end = static_cast<int64_t>(state_.WriteOffset) + state_.ChunkSize;
  if (state_.ChunkSize < 0 || end > static_cast<int64_t>(state_.RecvBuffer.size())) {
    log_.WriteMsg(wire::MsgId::ReceiveError, host_);
    ResetReceiveState(state_);
    return FeedResult::Close;
  }
  space = std::span<uint8_t>(state_.RecvBuffer.data() + state_.WriteOffset,
                             static_cast<size_t>(state_.ChunkSize));
  return FeedResult::Continue;
}

FeedResult FrameAssembler::Commit(int n, int waiting) {
  if (n <= 0) return FeedResult::Continue;
  if (state_.Remaining == 0) {
    state_.HeaderFill += n;
    if (state_.HeaderFill < kHeaderSize) return FeedResult::Continue;
    return StartFrame(waiting);
  }
  if (state_.SkipRemaining > 0) {
    state_.SkipRemaining -= n;
    return FeedResult::Continue;
  }
  state_.Received += n;
  if (state_.Spooling) {
    state_.SpoolStream->Write(state_.RecvBuffer.data(), static_cast<size_t>(n));
    state_.WriteOffset = 0;
  } else {
    state_.WriteOffset = state_.Received;
  }
  state_.Remaining -= n;
  if (state_.Remaining <= 0 && state_.ChunkSize > 0) FinishFrame();
  return FeedResult::Continue;
}

FeedResult FrameAssembler::Feed(std::span<const uint8_t> bytes, int waitingAfter, size_t& taken) {
  taken = 0;
  while (taken < bytes.size()) {
    const int left = static_cast<int>(bytes.size() - taken);
    std::span<uint8_t> space;
    if (Space(left, space) == FeedResult::Close) return FeedResult::Close;
    std::memcpy(space.data(), bytes.data() + taken, space.size());
    taken += space.size();
    if (Commit(static_cast<int>(space.size()),
               left - static_cast<int>(space.size()) + waitingAfter) == FeedResult::Close) {
      return FeedResult::Close;
    }
  }
  return FeedResult::Continue;
}

// A complete length header: an empty frame, a repaired one, or a buffer for the payload.
FeedResult FrameAssembler::StartFrame(int waiting) {
  state_.HeaderFill = 0;
  state_.Remaining = wire::LoadField<int32_t>(state_.HeaderBytes);
  state_.Received = state_.WriteOffset = 0;
  if (state_.Remaining == 0) return FeedResult::Continue;
  if (state_.Remaining == wire::frame::kMisalignedHeader) {
    // A 2351-byte request seen two bytes out of step: when two more bytes are there, they are
    // the rest of the real header and are dropped.
    state_.Remaining = wire::request::kSize;
    if (waiting >= wire::frame::kMisalignmentShift) {
      state_.SkipRemaining = wire::frame::kMisalignmentShift;
      state_.Remaining -= wire::frame::kMisalignmentShift;
    }
    log_.WriteMsg(wire::MsgId::CountCorrected, "[" + host_ + "]");
  }
  ReleaseBuffer(state_);
  if (state_.Remaining > maxFrameBytes_) {
    // Larger than any frame the server takes: dropped before a byte of it is stored.
    log_.WriteMsg(wire::MsgId::ReceiveError, host_);
    ResetReceiveState(state_);
    return FeedResult::Close;
  }
  if (state_.Remaining > kMaxInMemoryPayload) {
    state_.Spooling = true;
    state_.SpoolFileName = events_.SpoolFileName();
    try {
      state_.SpoolStream.emplace(
          platform::File::Open(state_.SpoolFileName, platform::OpenMode::CreateTruncate, true));
      state_.RecvBuffer.resize(static_cast<size_t>(kMaxInMemoryPayload));
    } catch (const std::exception&) {
      // Without its spool file the frame cannot be taken: the connection goes, like a frame
      // that cannot get its memory.
      log_.WriteMsg(wire::MsgId::ReceiveError, host_);
      ResetReceiveState(state_);
      return FeedResult::Close;
    }
    return FeedResult::Continue;
  }
  state_.Spooling = false;
  state_.SpoolStream.reset();
  state_.SpoolFileName.clear();
  // A negative length is a size no buffer can have: the connection is closed, and the state
  // starts afresh instead of keeping a negative count for the next connection.
  if (state_.Remaining < 0) {
    log_.Write("Memory allocation for buffer. Error!");
    ResetReceiveState(state_);
    return FeedResult::Close;
  }
  try {
    state_.RecvBuffer.resize(static_cast<size_t>(state_.Remaining));
  } catch (const std::bad_alloc&) {
    log_.Write("Memory allocation for buffer. Error!");
    ResetReceiveState(state_);
    return FeedResult::Close;
  }
  return FeedResult::Continue;
}

void FrameAssembler::FinishFrame() {
  events_.FrameComplete(state_);
  ReleaseBuffer(state_);
  // A spool file the handler did not take is closed and left where it is.
  if (state_.Spooling) {
    ReleaseSpool(state_);
    state_.SpoolFileName.clear();
    state_.Spooling = false;
  }
  state_.Remaining = 0;
  state_.ChunkSize = 0;
}

}  // namespace qv::net
