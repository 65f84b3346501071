#include "platform/blocking_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::platform {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool MakeAddress(const std::string& text, int port, sockaddr_in& address) {
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

// Waits for the events within the deadline; false on time-out or poll failure.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

BlockingSocket::~BlockingSocket() {
  Close();
}

BlockingSocket::BlockingSocket(BlockingSocket&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

BlockingSocket& BlockingSocket::operator=(BlockingSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool BlockingSocket::Fail(const std::string& what, int error) {
  error_ = what + ": " + std::strerror(error);
  Close();
  return false;
}

void BlockingSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void BlockingSocket::Abort() {
  if (fd_ < 0) return;
  linger option{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  Close();
}

void BlockingSocket::SetReceiveBuffer(int bytes) {
  if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool BlockingSocket::SetReceiveLowWater(int bytes) {
  return fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes) == 0;
}

int BlockingSocket::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool BlockingSocket::Connect(const std::string& localAddress, const std::string& address, int port,
                             std::chrono::milliseconds limit) {
  Close();
  const auto deadline = Clock::now() + limit;
  sockaddr_in local{}, remote{};
  if (!MakeAddress(localAddress, 0, local) || !MakeAddress(address, port, remote)) {
    return Fail("address", EINVAL);
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return Fail("socket", errno);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return Fail("bind " + localAddress, errno);
  }
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    if (errno != EINPROGRESS) return Fail("connect", errno);
    if (!WaitFor(fd_, POLLOUT, deadline)) return Fail("connect", ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) return Fail("connect", error);
  }
  // Every request is one whole frame: holding a small one back for an acknowledgment only adds
  // latency when several are on the way.
  const int one = 1;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
    return Fail("setsockopt TCP_NODELAY", errno);
  }
  return true;
}

bool BlockingSocket::Listen(const std::string& localAddress, int port) {
  Close();
  sockaddr_in local{};
  if (!MakeAddress(localAddress, port, local)) return Fail("address", EINVAL);
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return Fail("socket", errno);
  const int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return Fail("bind " + localAddress + ":" + std::to_string(port), errno);
  }
  if (::listen(fd_, 16) != 0) return Fail("listen", errno);
  return true;
}

bool BlockingSocket::Accept(BlockingSocket& accepted, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      accepted = BlockingSocket(fd);
      return true;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      error_ = std::string("accept: ") + std::strerror(errno);
      return false;
    }
    if (!WaitFor(fd_, POLLIN, deadline)) {
      error_ = "accept: timed out";
      return false;
    }
  }
}

bool BlockingSocket::SendAll(const void* data, size_t n, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < n) {
    const ssize_t sent = ::send(fd_, bytes + done, n - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error_ = std::string("send: ") + std::strerror(errno);
      return false;
    }
    if (!WaitFor(fd_, POLLOUT, deadline)) {
      error_ = "send: timed out";
      return false;
    }
  }
  return true;
}

long BlockingSocket::ReceiveSome(void* buffer, size_t n, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const ssize_t got = ::recv(fd_, buffer, n, 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error_ = std::string("recv: ") + std::strerror(errno);
      return errno == ECONNRESET ? 0 : -1;
    }
    if (!WaitFor(fd_, POLLIN, deadline)) {
      error_ = "recv: timed out";
      return -1;
    }
  }
}

}  // namespace qv::platform
