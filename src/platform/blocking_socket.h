#pragma once
// A plain TCP socket used in blocking style with time limits, bound to a chosen local IPv4
// address: what a client program needs (the server side uses socket.h). Not thread-safe; one
// owner drives it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::platform {

class BlockingSocket {
 public:
  BlockingSocket() = default;
  ~BlockingSocket();
  BlockingSocket(BlockingSocket&& other) noexcept;
  BlockingSocket& operator=(BlockingSocket&& other) noexcept;
  BlockingSocket(const BlockingSocket&) = delete;
  BlockingSocket& operator=(const BlockingSocket&) = delete;

  // Connects from localAddress (any port) to address:port. False with Error() set on failure.
  bool Connect(const std::string& localAddress, const std::string& address, int port,
               std::chrono::milliseconds limit);
  // Listens on localAddress:port.
  bool Listen(const std::string& localAddress, int port);
  // Accepts one connection of a listening socket within the limit.
  bool Accept(BlockingSocket& accepted, std::chrono::milliseconds limit);

  // Sends every byte (waiting while the peer is slow, up to the limit).
  bool SendAll(const void* data, size_t n,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Receives what arrives within the limit: > 0 bytes, 0 when the peer closed, -1 on time-out
  // or error.
  long ReceiveSome(void* buffer, size_t n, std::chrono::milliseconds limit);
  // Shrinks the receive buffer (before connecting or accepting, to make a slow reader).
  void SetReceiveBuffer(int bytes);
  // How many bytes must be waiting before a wait for data in ReceiveSome ends (SO_RCVLOWAT; the
  // system caps it at half the receive buffer). A receive still takes whatever is there, and
  // the peer closing still ends the wait. False when the system refused.
  bool SetReceiveLowWater(int bytes);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // Closes with a reset instead of an orderly close.
  void Abort();
  const std::string& Error() const { return error_; }
  int LocalPort() const;

 private:
  explicit BlockingSocket(int fd) : fd_(fd) {}
  bool Fail(const std::string& what, int error);

  int fd_ = -1;
  std::string error_;
};

}  // namespace qv::platform
