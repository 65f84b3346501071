#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/system_error.h"

namespace qv::platform {
namespace {

// How long the listener is not watched when the process is out of descriptors and has no spare.
constexpr int kAcceptPauseMs = 100;

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

void SetNoDelayOn(int fd, bool on) {
  const int value = on ? 1 : 0;
  // Failure only costs latency; the caller ignores it as the protocol allows.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

}  // namespace

SocketDescriptor::~SocketDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void SocketDescriptor::Shutdown() const {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

std::string FormatIPv4(uint32_t addressNetworkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = addressNetworkOrder;
  if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
  return text;
}

std::string ReverseLookup(const std::string& dottedAddress) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (::inet_pton(AF_INET, dottedAddress.c_str(), &address.sin_addr) != 1) return {};
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    return {};
  }
  return host;
}

// ---------------------------------------------------------------------------------------------
// TcpConnection

TcpConnection::TcpConnection(TcpListener& owner, int fd, int32_t handle, std::string peerAddress)
    : owner_(&owner),
      loop_(owner.Loop()),
      socket_(std::make_shared<SocketDescriptor>(fd)),
      handle_(handle),
      peerAddress_(std::move(peerAddress)) {}

TcpConnection::~TcpConnection() {
  if (watch_ != 0 && socket_) loop_.Unwatch(watch_);
}

int TcpConnection::ReceiveLength() const {
  if (!socket_) return 0;
  int available = 0;
  if (::ioctl(socket_->Fd(), FIONREAD, &available) != 0) return 0;
  return available;
}

int TcpConnection::ReceiveBuf(void* buffer, int count) {
  if (!socket_ || count < 0) return -1;
  receiveCalled_ = true;
  Rearm();
  for (;;) {
    const ssize_t n = ::recv(socket_->Fd(), buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    if (n > 0) {
      lastError_.clear();
      return static_cast<int>(n);
    }
    if (n == 0) {
      if (count == 0) return 0;
      Close();
      return 0;
    }
    const int error = errno;
    if (error == EINTR) continue;
    lastError_ = SystemError(error);
    if (WouldBlock(error)) return -1;
    if (owner_ != nullptr) owner_->RaiseError(*this, lastError_);
    Close();
    return -1;
  }
}

void TcpConnection::SetNoDelay(bool on) {
  if (socket_) SetNoDelayOn(socket_->Fd(), on);
}

void TcpConnection::SetArmed(bool armed) {
  if (armed_ == armed || watch_ == 0) return;
  armed_ = armed;
  loop_.SetWatchEvents(watch_, armed ? EventLoop::kReadable : 0u);
}

void TcpConnection::Rearm() {
  if (loop_.InLoopThread()) SetArmed(true);
}

void TcpConnection::Close() {
  if (loop_.InLoopThread()) {
    CloseOnLoop();
    return;
  }
  loop_.Post([weak = self_] {
    if (auto self = weak.lock()) self->CloseOnLoop();
  });
}

void TcpConnection::CloseOnLoop() {
  if (closing_ || !socket_) return;
  closing_ = true;
  auto keep = self_.lock();  // the disconnect handler may drop the last other reference
  if (owner_ != nullptr && owner_->OnClientDisconnect) {
    try {
      owner_->OnClientDisconnect(*this);
    } catch (...) {
    }
  }
  if (watch_ != 0) loop_.Unwatch(watch_);
  watch_ = 0;
  socket_->Shutdown();
  socket_.reset();
  connected_ = false;
  handle_ = -1;
  if (owner_ != nullptr) owner_->Remove(this);
  owner_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TcpListener

TcpListener::TcpListener(EventLoop& loop) : loop_(loop) {}

TcpListener::~TcpListener() {
  Close();
}

void TcpListener::Open(int port, const std::string& bindAddress) {
  if (listenFd_ >= 0) return;
  if (port < 0 || port > 65535) throw std::system_error(EINVAL, std::generic_category(), "port");
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
    ::close(fd);
    throw std::system_error(EINVAL, std::generic_category(), "bind address " + bindAddress);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(),
                            "listen on port " + std::to_string(port));
  }
  listenFd_ = fd;
  listenWatch_ = loop_.Watch(fd, EventLoop::kReadable, [this](uint32_t) { AcceptPending(); });
  spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  resumeTimer_ = loop_.AddTimer(kAcceptPauseMs, false, [this] {
    loop_.SetTimerEnabled(resumeTimer_, false);
    if (listenFd_ >= 0 && !acceptPaused_) loop_.SetWatchEvents(listenWatch_, EventLoop::kReadable);
  });
}

int TcpListener::LocalPort() const {
  if (listenFd_ < 0) return 0;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

void TcpListener::Close() {
  // Each close raises the connection's disconnect event and removes it from the list.
  for (;;) {
    std::shared_ptr<TcpConnection> first;
    {
      auto lock = LockConnections();
      if (connections_.empty()) break;
      first = connections_.front();
    }
    first->CloseOnLoop();
    auto lock = LockConnections();
    // A connection that could not be removed (already closing) must not stall the loop.
    if (!connections_.empty() && connections_.front() == first)
      connections_.erase(connections_.begin());
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenWatch_);
    listenWatch_ = 0;
    ::close(listenFd_);
    listenFd_ = -1;
  }
  if (spareFd_ >= 0) ::close(spareFd_);
  spareFd_ = -1;
  if (resumeTimer_ != 0) loop_.RemoveTimer(resumeTimer_);
  resumeTimer_ = 0;
}

std::unique_lock<std::recursive_mutex> TcpListener::LockConnections() const {
  return std::unique_lock<std::recursive_mutex>(listMutex_);
}

size_t TcpListener::ActiveConnections() const {
  auto lock = LockConnections();
  return connections_.size();
}

std::shared_ptr<TcpConnection> TcpListener::Connection(size_t index) const {
  auto lock = LockConnections();
  return index < connections_.size() ? connections_[index] : nullptr;
}

std::shared_ptr<TcpConnection> TcpListener::FindByHandle(int32_t handle) const {
  if (handle == -1) return nullptr;
  auto lock = LockConnections();
  for (const auto& connection : connections_) {
    if (connection->Handle() == handle) return connection;
  }
  return nullptr;
}

bool TcpListener::CloseByHandle(int32_t handle) {
  auto connection = FindByHandle(handle);
  if (!connection) return false;
  connection->Close();
  return true;
}

void TcpListener::Remove(TcpConnection* connection) {
  auto lock = LockConnections();
  auto it = std::find_if(connections_.begin(), connections_.end(),
                         [connection](const auto& c) { return c.get() == connection; });
  if (it != connections_.end()) connections_.erase(it);
}

void TcpListener::RefuseAtLimit(std::error_code error) {
  if (!atLimit_) {
    atLimit_ = true;
    if (OnAcceptLimit) {
      try {
        OnAcceptLimit(error);
      } catch (...) {  // NOLINT(bugprone-empty-catch): the refusal below must happen regardless
      }
    }
  }
  if (spareFd_ >= 0) {
    ::close(spareFd_);
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) ::close(fd);
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && spareFd_ >= 0) return;
  }
  // No spare to free: the listener is not watched for a moment instead of waking the event
  // thread again at once.
  loop_.SetWatchEvents(listenWatch_, 0);
  loop_.SetTimerEnabled(resumeTimer_, true);
}

void TcpListener::ResumeAccepting() {
  if (!acceptPaused_ || listenFd_ < 0) return;
  acceptPaused_ = false;
  loop_.SetWatchEvents(listenWatch_, EventLoop::kReadable);
  AcceptPending();
}

void TcpListener::AcceptPending() {
  for (;;) {
    if (AcceptGate && !AcceptGate()) {
      // Not watched until resumed: a readable listener would otherwise wake the loop for nothing.
      acceptPaused_ = true;
      loop_.SetWatchEvents(listenWatch_, 0u);
      return;
    }
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE) RefuseAtLimit(LastSystemError());
      return;  // would block, or refused at the limit: the next readable event goes on
    }
    atLimit_ = false;
    const std::string peerAddress =
        peer.sin_family == AF_INET ? FormatIPv4(peer.sin_addr.s_addr) : std::string();
    auto connection = std::make_shared<TcpConnection>(*this, fd, nextHandle_++, peerAddress);
    if (nextHandle_ == INT32_MAX) nextHandle_ = 1 << 24;
    connection->self_ = connection;
    std::weak_ptr<TcpConnection> weak = connection;
    connection->watch_ = loop_.Watch(fd, EventLoop::kReadable, [this, weak](uint32_t) {
      if (auto c = weak.lock()) OnConnectionEvent(c);
    });
    {
      auto lock = LockConnections();
      connections_.push_back(connection);
    }
    if (OnClientConnect) {
      try {
        OnClientConnect(connection);
      } catch (...) {
      }
    }
  }
}

void TcpListener::RaiseError(TcpConnection& connection, std::error_code code) {
  if (!OnClientError || !code) return;
  try {
    OnClientError(connection, code);
  } catch (...) {
  }
}

void TcpListener::OnConnectionEvent(const std::shared_ptr<TcpConnection>& connection) {
  if (!connection->socket_) return;
  if (connection->ReceiveLength() > 0) {
    connection->receiveCalled_ = false;
    if (OnClientRead) {
      try {
        OnClientRead(*connection);
      } catch (...) {
      }
    }
    if (connection->socket_ && !connection->receiveCalled_ && connection->ReceiveLength() > 0) {
      // Nothing was taken: as with a Windows read event, no further event is raised until the
      // next receive; the stack checker comes back for the data.
      connection->SetArmed(false);
    }
    return;
  }
  // Readable with nothing to read: the peer has closed, or the connection failed.
  char probe = 0;
  const ssize_t n = ::recv(connection->socket_->Fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) {
    connection->CloseOnLoop();
  } else if (n < 0 && errno != EINTR && !WouldBlock(errno)) {
    connection->lastError_ = LastSystemError();
    RaiseError(*connection, connection->lastError_);
    connection->CloseOnLoop();
  }
}

void TcpListener::CloseHungUp() {
  std::vector<std::shared_ptr<TcpConnection>> idle;
  {
    auto lock = LockConnections();
    for (const auto& c : connections_) {
      if (!c->armed_) idle.push_back(c);
    }
  }
  for (const auto& c : idle) {
    if (!c->socket_) continue;
    pollfd p{c->socket_->Fd(), static_cast<short>(POLLRDHUP), 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) c->CloseOnLoop();
  }
}

// ---------------------------------------------------------------------------------------------
// TcpClient

TcpClient::TcpClient(EventLoop& loop) : loop_(loop) {}

TcpClient::~TcpClient() {
  ++generation_;
  if (watch_ != 0) loop_.Unwatch(watch_);
  for (Resolver& resolver : resolvers_) {
    if (resolver.thread.joinable()) resolver.thread.join();
  }
}

std::shared_ptr<SocketDescriptor> TcpClient::CurrentSocket() const {
  std::lock_guard lock(socketMutex_);
  return socket_;
}

void TcpClient::DropSocket() {
  if (watch_ != 0) loop_.Unwatch(watch_);
  watch_ = 0;
  onWritable_ = nullptr;
  std::shared_ptr<SocketDescriptor> old;
  {
    std::lock_guard lock(socketMutex_);
    old.swap(socket_);
  }
  if (old) old->Shutdown();
  connected_ = false;
  handle_ = -1;
}

void TcpClient::Open() {
  if (active_) return;
  if (socket_) DropSocket();
  active_ = true;
  ++generation_;
  // The socket exists from activation on, so that a failed lookup is reported for a socket
  // with a handle, as a connect failure is.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    PostConnectFailure(LastSystemError());
    return;
  }
  {
    std::lock_guard lock(socketMutex_);
    socket_ = std::make_shared<SocketDescriptor>(fd);
  }
  handle_ = fd;
  in_addr address{};
  if (!address_.empty() && ::inet_pton(AF_INET, address_.c_str(), &address) == 1) {
    StartConnect(address.s_addr);
  } else {
    StartResolve();
  }
}

void TcpClient::StartResolve() {
  // Finished lookups are joined (at once); running ones go on, their results will be stale.
  for (auto it = resolvers_.begin(); it != resolvers_.end();) {
    if (it->done->load()) {
      if (it->thread.joinable()) it->thread.join();
      it = resolvers_.erase(it);
    } else {
      ++it;
    }
  }
  std::weak_ptr<TcpClient> weak;
  try {
    weak = weak_from_this();
  } catch (...) {
  }
  const uint64_t generation = generation_;
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread;
  try {
    thread = std::thread([weak, generation, done, host = host_, &loop = loop_] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* result = nullptr;
      const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
      const int savedErrno = errno;
      uint32_t address = 0;
      std::error_code code = ResolverError(rc, savedErrno);
      if (rc == 0 && result != nullptr) {
        address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
      } else if (!code) {
        code = ResolverError(EAI_NONAME, 0);
      }
      if (result != nullptr) ::freeaddrinfo(result);
      loop.Post([weak, generation, address, code] {
        auto self = weak.lock();
        if (!self || self->generation_ != generation || !self->active_) return;
        if (code) {
          self->FailConnect(code);
        } else {
          self->StartConnect(address);
        }
      });
      *done = true;
    });
  } catch (const std::system_error& e) {
    PostConnectFailure(e.code());
    return;
  }
  resolvers_.push_back(Resolver{std::move(thread), std::move(done)});
}

void TcpClient::StartConnect(uint32_t addressNetworkOrder) {
  auto socket = CurrentSocket();
  if (!socket) return;
  const int fd = socket->Fd();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = addressNetworkOrder;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS) {
    PostConnectFailure(LastSystemError());
    return;
  }
  const uint64_t generation = generation_;
  watch_ = loop_.Watch(fd, EventLoop::kWritable, [this, generation](uint32_t events) {
    if (generation == generation_) OnSocketEvent(events);
  });
}

void TcpClient::PostConnectFailure(std::error_code code) {
  // Reported from the loop, never from inside Open: a handler may call Open again.
  std::weak_ptr<TcpClient> weak = weak_from_this();
  const uint64_t generation = generation_;
  loop_.Post([weak, generation, code] {
    auto self = weak.lock();
    if (self && self->generation_ == generation && self->active_) self->FailConnect(code);
  });
}

void TcpClient::FailConnect(std::error_code code) {
  // The socket keeps its handle during the error event so that its owner can be found.
  const uint64_t generation = generation_;
  active_ = false;
  connected_ = false;
  if (watch_ != 0) loop_.Unwatch(watch_);
  watch_ = 0;
  if (OnError) {
    std::error_code reported = code;
    try {
      OnError(*this, reported);
    } catch (...) {
    }
  }
  if (generation == generation_ && !active_) DropSocket();
}

void TcpClient::OnSocketEvent(uint32_t events) {
  auto socket = CurrentSocket();
  if (!socket) return;
  auto keep = shared_from_this();
  if (!connected_) {
    if ((events & (EventLoop::kWritable | EventLoop::kReadable)) == 0) return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket->Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
      FailConnect(SystemError(error));
      return;
    }
    connected_ = true;
    loop_.SetWatchEvents(watch_, EventLoop::kReadable);
    if (OnConnect) {
      try {
        OnConnect(*this);
      } catch (...) {
      }
    }
    return;
  }
  if ((events & EventLoop::kWritable) != 0 && onWritable_) {
    std::function<void()> notice = std::move(onWritable_);
    onWritable_ = nullptr;
    loop_.SetWatchEvents(watch_, EventLoop::kReadable);
    const uint64_t generation = generation_;
    try {
      notice();
    } catch (...) {
    }
    if (generation != generation_) return;  // the notice closed the socket
  }
  if ((events & EventLoop::kReadable) == 0) return;
  // The server side never expects data here: anything read is dropped; the read tells whether
  // the peer has closed or the connection failed.
  char sink[4096];
  for (;;) {
    const ssize_t n = ::recv(socket->Fd(), sink, sizeof sink, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n == 0) {
      Close();
      return;
    }
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) return;
    const uint64_t generation = generation_;
    std::error_code code = LastSystemError();
    if (OnError) {
      try {
        OnError(*this, code);
      } catch (...) {
      }
    }
    // A failed connection that the handler left open is closed here, or it would keep firing.
    if (generation == generation_ && socket_ == socket) Close();
    return;
  }
}

void TcpClient::Close() {
  if (closing_) return;
  ++generation_;
  if (socket_) {
    closing_ = true;
    auto keep = weak_from_this().lock();
    if (connected_ && OnDisconnect) {
      try {
        OnDisconnect(*this);
      } catch (...) {
      }
    }
    DropSocket();
    closing_ = false;
  }
  active_ = false;
  connected_ = false;
}

int TcpClient::SendBuf(const void* data, int length, std::error_code& error, bool moreFollows) {
  std::lock_guard lock(sendLock_);
  auto socket = CurrentSocket();
  if (!socket || !connected_) {
    error.clear();
    return 0;
  }
  if (length <= 0) {
    error.clear();
    return 0;
  }
  const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (moreFollows ? MSG_MORE : 0);
  for (;;) {
    const ssize_t n = ::send(socket->Fd(), data, static_cast<size_t>(length), flags);
    if (n >= 0) {
      error.clear();
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    error = LastSystemError();
    return -1;
  }
}

bool TcpClient::WaitWritable(int timeoutMs) const {
  auto socket = CurrentSocket();
  if (!socket) return false;
  pollfd p{socket->Fd(), POLLOUT, 0};
  return ::poll(&p, 1, std::max(0, timeoutMs)) > 0;
}

void TcpClient::Shutdown() const {
  if (auto socket = CurrentSocket()) socket->Shutdown();
}

bool TcpClient::NotifyWhenWritable(std::function<void()> onWritable) {
  if (!connected_ || watch_ == 0 || !socket_) return false;
  onWritable_ = std::move(onWritable);
  loop_.SetWatchEvents(watch_, EventLoop::kReadable | EventLoop::kWritable);
  return true;
}

void TcpClient::CancelWritableNotice() {
  if (!onWritable_) return;
  onWritable_ = nullptr;
  if (watch_ != 0 && connected_) loop_.SetWatchEvents(watch_, EventLoop::kReadable);
}

void TcpClient::SetNoDelay(bool on) {
  if (auto socket = CurrentSocket()) SetNoDelayOn(socket->Fd(), on);
}

}  // namespace qv::platform
