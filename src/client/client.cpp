#include "client/client.h"

#include <algorithm>
#include <cstring>

namespace qv::client {

using Clock = std::chrono::steady_clock;

namespace {
// Bytes asked of the system per receive (more when a larger frame is missing).
constexpr size_t kReadSize = 65536;
}  // namespace

int32_t Int32At(const Bytes& bytes, size_t offset) {
  int32_t value = 0;
  if (offset + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

Bytes Frame(const Bytes& payload) {
  Bytes frame(4 + payload.size());
  const auto length = static_cast<int32_t>(payload.size());
  std::memcpy(frame.data(), &length, 4);
  if (!payload.empty()) std::memcpy(frame.data() + 4, payload.data(), payload.size());
  return frame;
}

Client::Client(ClientOptions options) : options_(std::move(options)) {}

bool Client::Connect(std::chrono::milliseconds limit) {
  if (options_.listen && !listener_.IsOpen() &&
      !listener_.Listen(options_.localAddress, options_.port + 10)) {
    error_ = listener_.Error();
    return false;
  }
  if (!request_.Connect(options_.localAddress, options_.serverAddress, options_.port, limit)) {
    error_ = request_.Error();
    return false;
  }
  return true;
}

bool Client::AcceptServer(std::chrono::milliseconds limit) {
  if (!listener_.IsOpen()) {
    error_ = "not listening";
    return false;
  }
  if (!listener_.Accept(back_, limit)) {
    error_ = listener_.Error();
    return false;
  }
  if (options_.receiveBufferBytes > 0) back_.SetReceiveBuffer(options_.receiveBufferBytes);
  pendingStart_ = 0;
  pendingEnd_ = 0;
  lowWater_ = 1;  // a new socket's
  serverClosed_ = false;
  return true;
}

std::optional<Bytes> Client::Login(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  if (!Connect(limit)) return std::nullopt;
  const auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  };
  if (!AcceptServer(left())) return std::nullopt;
  return ReceiveFrameWithCode(5000, left());
}

bool Client::SendRaw(const void* data, size_t n) {
  if (!request_.SendAll(data, n)) {
    error_ = request_.Error();
    return false;
  }
  return true;
}

bool Client::SendFrame(const Bytes& payload) {
  return SendRaw(Frame(payload));
}

bool Client::TakeFrame(Bytes& frame) {
  const size_t available = pendingEnd_ - pendingStart_;
  if (available < 4) return false;
  int32_t length = 0;
  std::memcpy(&length, pending_.data() + pendingStart_, sizeof length);
  if (length < 0) {
    error_ = "negative frame length from the server";
    return false;
  }
  if (available < 4 + static_cast<size_t>(length)) return false;
  const auto start = pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_);
  frame.assign(start + 4, start + 4 + length);
  pendingStart_ += 4 + static_cast<size_t>(length);
  if (pendingStart_ == pendingEnd_) pendingStart_ = pendingEnd_ = 0;
  return true;
}

size_t Client::MissingFrameBytes() const {
  if (pendingEnd_ - pendingStart_ < 4) return 0;
  int32_t length = 0;
  std::memcpy(&length, pending_.data() + pendingStart_, sizeof length);
  if (length < 0) return 0;
  const size_t frameEnd = pendingStart_ + 4 + static_cast<size_t>(length);
  return frameEnd > pendingEnd_ ? frameEnd - pendingEnd_ : 0;
}

void Client::MakeRoom(size_t n) {
  if (pendingStart_ > 0 && pendingEnd_ + n > pending_.size()) {
    std::memmove(pending_.data(), pending_.data() + pendingStart_, pendingEnd_ - pendingStart_);
    pendingEnd_ -= pendingStart_;
    pendingStart_ = 0;
  }
  if (pendingEnd_ + n > pending_.size()) pending_.resize(pendingEnd_ + n);
}

void Client::SetLowWater(int bytes) {
  if (bytes != lowWater_ && back_.SetReceiveLowWater(bytes)) lowWater_ = bytes;
}

std::optional<Bytes> Client::ReceiveFrame(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  Bytes frame;
  for (;;) {
    if (TakeFrame(frame)) return frame;
    if (!back_.IsOpen() || serverClosed_) return std::nullopt;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    // The rest of a large frame is received in one call when it can be, and a wait for it ends
    // only once all of it is there: one wake-up per frame instead of one per arriving segment.
    const size_t missing = MissingFrameBytes();
    const size_t want = std::max(missing, kReadSize);
    MakeRoom(want);
    SetLowWater(missing > kReadSize ? static_cast<int>(std::min<size_t>(missing, INT32_MAX)) : 1);
    const long n = back_.ReceiveSome(pending_.data() + pendingEnd_, want, left);
    if (n == 0) {
      serverClosed_ = true;
      continue;
    }
    if (n < 0) return std::nullopt;
    pendingEnd_ += static_cast<size_t>(n);
  }
}

std::optional<Bytes> Client::ReceiveFrameWithCode(int32_t code, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto frame = ReceiveFrame(left);
    if (!frame) return std::nullopt;
    if (frame->size() >= 4 && Int32At(*frame, 0) == code) return frame;
  }
}

bool Client::WaitRequestConnectionClosed(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  uint8_t buffer[4096];
  while (request_.IsOpen()) {
    // One look at the connection even when the limit is shorter than a clock step.
    const auto left =
        std::max(std::chrono::milliseconds(0),
                 std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    const long n = request_.ReceiveSome(buffer, sizeof buffer, left);
    if (n == 0) return true;
    if (Clock::now() >= deadline) return false;
  }
  return true;
}

bool Client::WaitServerConnectionClosed(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!serverClosed_) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || !back_.IsOpen()) return serverClosed_;
    ReceiveFrame(left);
  }
  return true;
}

}  // namespace qv::client
