#pragma once
// Non-blocking TCP sockets with the events the server's connection layer expects, delivered on
// the event thread:
//  - TcpListener: a listening socket with its list of current connections and, per connection,
//    connect, read, disconnect and error events;
//  - TcpClient: an outgoing connection with connect, disconnect and error events, asynchronous
//    host name resolution, an active switch and a lock held around every send.
// Closing a connection raises its disconnect event while its handle is still valid. Errors are
// std::error_code (system_error.h). Sockets are created close-on-exec; sends never raise SIGPIPE.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace qv::platform {

// A socket descriptor shared between the event thread and threads that send on it: closing a
// connection on the event thread never frees a number another thread is still using.
class SocketDescriptor {
 public:
  explicit SocketDescriptor(int fd) : fd_(fd) {}
  ~SocketDescriptor();
  SocketDescriptor(const SocketDescriptor&) = delete;
  SocketDescriptor& operator=(const SocketDescriptor&) = delete;
  int Fd() const { return fd_; }
  void Shutdown() const;

 private:
  int fd_;
};

class TcpListener;

// One accepted connection of a TcpListener.
class TcpConnection {
 public:
  TcpConnection(TcpListener& owner, int fd, int32_t handle, std::string peerAddress);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // A number that names this connection for its whole life; -1 once it is closed. Handles are
  // never reused by a listener, so a stale handle cannot name a newer connection.
  int32_t Handle() const { return handle_.load(); }
  bool Connected() const { return connected_.load(); }
  // Dotted IPv4 address of the peer, taken at accept; safe from any thread.
  const std::string& PeerAddress() const { return peerAddress_; }

  // Bytes that can be read now (FIONREAD); 0 when closed. Event thread.
  int ReceiveLength() const;
  // Event thread. > 0: bytes read. 0: the peer has closed (the connection is closed and its
  // disconnect event raised). -1: nothing can be read now (LastError would block), or an error,
  // which was reported through the error event first (and the connection closed).
  int ReceiveBuf(void* buffer, int count);
  std::error_code LastError() const { return lastError_; }
  void SetNoDelay(bool on);
  // Raises the disconnect event, then closes. From another thread the close is posted to the
  // event thread. Closing a closed connection does nothing.
  void Close();
  // Watches for readability again after a read event that consumed nothing.
  void Rearm();

 private:
  friend class TcpListener;
  void CloseOnLoop();
  void SetArmed(bool armed);

  TcpListener* owner_;
  EventLoop& loop_;
  std::shared_ptr<SocketDescriptor> socket_;
  EventLoop::WatchId watch_ = 0;
  std::atomic<int32_t> handle_;
  std::atomic<bool> connected_{true};
  std::string peerAddress_;
  std::error_code lastError_;
  bool closing_ = false;
  bool armed_ = true;
  bool receiveCalled_ = false;
  std::weak_ptr<TcpConnection> self_;
};

class TcpListener {
 public:
  explicit TcpListener(EventLoop& loop);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  std::function<void(const std::shared_ptr<TcpConnection>&)> OnClientConnect;
  std::function<void(TcpConnection&)> OnClientRead;
  std::function<void(TcpConnection&)> OnClientDisconnect;
  std::function<void(TcpConnection&, std::error_code& code)> OnClientError;
  // The process ran out of descriptors while connections were waiting (errno EMFILE or ENFILE):
  // they are accepted and closed at once until descriptors free. Raised when the condition
  // starts, not again until an accept has succeeded in between.
  std::function<void(std::error_code error)> OnAcceptLimit;
  // Asked before each accept: false leaves new connections waiting in the listen queue until
  // ResumeAccepting is called.
  std::function<bool()> AcceptGate;

  // Accepts what waits in the listen queue again after the gate closed. Event thread.
  void ResumeAccepting();

  // Listens on the port (all IPv4 addresses unless bindAddress is given). Throws
  // std::system_error when the port cannot be opened.
  void Open(int port, const std::string& bindAddress = {});
  // Closes every connection (each raising its disconnect event), then the listening socket.
  void Close();
  bool Active() const { return listenFd_ >= 0; }
  int LocalPort() const;

  // The list of current connections. Lock it while walking it from outside the event thread.
  std::unique_lock<std::recursive_mutex> LockConnections() const;
  size_t ActiveConnections() const;
  std::shared_ptr<TcpConnection> Connection(size_t index) const;  // null when out of range
  std::shared_ptr<TcpConnection> FindByHandle(int32_t handle) const;
  // Closes the first connection with this handle; false when there is none.
  bool CloseByHandle(int32_t handle);

  // Connections whose unread data no read event consumed are no longer watched (as a read event
  // is raised again only after a receive); this closes those whose peer has hung up meanwhile.
  void CloseHungUp();

  EventLoop& Loop() const { return loop_; }

 private:
  friend class TcpConnection;
  void AcceptPending();
  // Out of descriptors: refuses one waiting connection through the spare descriptor, or stops
  // watching the listener for a moment when there is no spare.
  void RefuseAtLimit(std::error_code error);
  void OnConnectionEvent(const std::shared_ptr<TcpConnection>& connection);
  void RaiseError(TcpConnection& connection, std::error_code code);
  void Remove(TcpConnection* connection);

  EventLoop& loop_;
  int listenFd_ = -1;
  EventLoop::WatchId listenWatch_ = 0;
  // Held open so that one descriptor can be freed to accept and close a waiting connection when
  // the process has no other: without that the listener stays readable and the event thread
  // would spin until a descriptor frees.
  int spareFd_ = -1;
  bool atLimit_ = false;
  EventLoop::TimerId resumeTimer_ = 0;  // re-arms the listener after a pause at the limit
  int32_t nextHandle_ = 1 << 24;        // far above any descriptor number
  bool acceptPaused_ = false;
  mutable std::recursive_mutex listMutex_;
  std::vector<std::shared_ptr<TcpConnection>> connections_;
};

// An outgoing connection. Configure host, address (dotted, or empty to resolve the host) and
// port, then Open. Events run on the event thread. SendBuf, WaitWritable and Shutdown are safe
// from any thread.
class TcpClient : public std::enable_shared_from_this<TcpClient> {
 public:
  explicit TcpClient(EventLoop& loop);
  virtual ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  void SetHost(std::string host) { host_ = std::move(host); }
  const std::string& Host() const { return host_; }
  void SetAddress(std::string address) { address_ = std::move(address); }
  const std::string& Address() const { return address_; }
  void SetPort(int port) { port_ = port; }
  int Port() const { return port_; }

  std::function<void(TcpClient&)> OnConnect;
  std::function<void(TcpClient&)> OnDisconnect;
  std::function<void(TcpClient&, std::error_code& code)> OnError;

  // Active from the connect event until the connection closes or fails; an attempt still under
  // way (resolving or connecting) is not active yet.
  bool Active() const { return connected_.load(); }
  // From Open until the attempt fails or the connection closes.
  bool Opened() const { return active_.load(); }
  bool Connected() const { return connected_.load(); }
  // The current socket's descriptor number; -1 when there is none.
  int32_t Handle() const { return handle_.load(); }

  // Starts a connection attempt (resolving the host first when there is no address). A failure
  // is reported through the error event with the socket still named by Handle(). Event thread.
  void Open();
  // Closes the connection: the disconnect event first when it was connected. Event thread.
  void Close();

  // One non-blocking send under the send lock. Not connected: 0 and no error. Failure: -1 with
  // the error (IsWouldBlock when the socket cannot take data now). moreFollows tells the kernel
  // that the caller's next send continues the same data (MSG_MORE), so that a run of small
  // sends leaves in full segments; the last send of a run must pass false to push it out.
  int SendBuf(const void* data, int length, std::error_code& error, bool moreFollows = false);
  // Waits up to timeoutMs until the socket can take data (or has failed); false on time-out or
  // when there is no socket.
  bool WaitWritable(int timeoutMs) const;
  // Shuts the connection down so that the peer and the event thread see it end.
  void Shutdown() const;
  // Calls onWritable once, on the event thread, when the connected socket can take data again
  // (the socket's own watch is widened to writability until then). False when there is no
  // connected socket to watch. A close drops the request. Event thread.
  bool NotifyWhenWritable(std::function<void()> onWritable);
  void CancelWritableNotice();
  // Held around every system send.
  std::recursive_mutex& SendLock() { return sendLock_; }
  void SetNoDelay(bool on);

  EventLoop& Loop() const { return loop_; }

 private:
  void StartConnect(uint32_t addressNetworkOrder);
  void StartResolve();
  void OnSocketEvent(uint32_t events);
  void PostConnectFailure(std::error_code code);
  void FailConnect(std::error_code code);
  void DropSocket();
  std::shared_ptr<SocketDescriptor> CurrentSocket() const;

  EventLoop& loop_;
  std::string host_;
  std::string address_;
  int port_ = 0;
  std::atomic<bool> active_{false};
  std::atomic<bool> connected_{false};
  std::atomic<int32_t> handle_{-1};
  bool closing_ = false;
  uint64_t generation_ = 0;  // changes at every Open and Close; stale events are dropped
  mutable std::mutex socketMutex_;
  std::shared_ptr<SocketDescriptor> socket_;
  EventLoop::WatchId watch_ = 0;
  std::function<void()> onWritable_;  // event thread; set while a writable notice is wanted
  std::recursive_mutex sendLock_;
  // Name lookups under way or finished; a running one is never waited for except when the
  // socket goes (its result is posted to the loop and dropped when stale).
  struct Resolver {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Resolver> resolvers_;
};

// Official host name of a dotted IPv4 address by reverse lookup; empty when none is found.
// Blocks: never call it on the event thread.
std::string ReverseLookup(const std::string& dottedAddress);

// Dotted form of an IPv4 address in network byte order.
std::string FormatIPv4(uint32_t addressNetworkOrder);

}  // namespace qv::platform
