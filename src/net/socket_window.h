#pragma once
// The socket window: the listening socket, the handlers every user's outgoing socket gets, the
// connect timer (50 ms, opens the outgoing connections of newly admitted users) and the TCP stack
// checker (200 ms, reads data that arrived without a read event), and its orderly closing.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "net/reverse_lookup_cache.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/thread_pool.h"
#include "state/client_socket.h"
#include "state/server.h"

namespace qv::net {

inline constexpr int kConnectTimerMs = 50;
inline constexpr int kStackCheckerMs = 200;

class TFormSocksServer final : public state::Connections {
 public:
  // Sets server.runtime.connections; the stack checker runs from here on, the connect timer when
  // enabled.
  explicit TFormSocksServer(state::Server& server);
  ~TFormSocksServer() override;
  TFormSocksServer(const TFormSocksServer&) = delete;
  TFormSocksServer& operator=(const TFormSocksServer&) = delete;

  platform::TcpListener ServerSocket1;

  // Opens the listener on the port. Throws std::system_error when it cannot.
  void OpenListener(int port);
  // Gives a user's outgoing socket the connect, disconnect and error handlers.
  void AttachTemplateHandlers(state::ClientSocket& socket);

  // The connect timer. Enabling is safe from any thread.
  void EnableConnectTimer();
  bool ConnectTimerEnabled() const;
  // Called by the connect timer once it has emptied the pending list and disabled itself.
  void ConnectTimerDisabled();
  // Identification threads wait here (at most limitMs) for the connect timer to be disabled.
  void WaitConnectTimerIdle(int limitMs);

  // Keeps an identification thread until it has finished; finished ones are released.
  void KeepIdentificationThread(std::shared_ptr<platform::WorkerThread> thread);

  // Identifications by reverse lookup running at once are bounded
  // (Limits::identificationsInFlight): a connection that would need one beyond the bound is
  // closed at once; the listener itself never stops taking connections.
  bool IdentificationSlotFree() const;
  void IdentificationStarted();
  // From the identification thread as it ends: reopens the listener when it had stopped.
  void IdentificationEnded();
  int IdentificationsInFlight() const { return identifying_.load(); }
  platform::ThreadPool& IdentificationThreads() { return identificationPool_; }
  // Reverse lookups of peers that are no user's by address (any thread).
  ReverseLookupCache& ReverseLookups() { return reverseLookups_; }
  bool Closing() const { return closing_.load(); }

  // The incoming connection with this handle closes (its disconnect event first). Event thread.
  void CloseIncoming(int32_t handle) override;

  // Closes the listener (each incoming connection raising its disconnect event), then every
  // user's outgoing socket; the window reference is cleared last.
  void Close();

 private:
  state::Server& server_;
  platform::EventLoop::TimerId timerConnect_ = 0;
  platform::EventLoop::TimerId timerStackChecker_ = 0;
  std::mutex connectTimerMutex_;
  std::condition_variable connectTimerIdle_;
  // Threads of identifications; an idle one ends after a second, so a burst leaves none behind.
  platform::ThreadPool identificationPool_{std::chrono::seconds(1), 4};
  std::mutex identificationMutex_;
  ReverseLookupCache reverseLookups_{platform::ReverseLookup};
  std::vector<std::shared_ptr<platform::WorkerThread>> identificationThreads_;
  std::atomic<int> identifying_{0};
  // Dropped with the window, so that a task posted for it finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::atomic<bool> closing_{false};
  bool closed_ = false;
};

// Creates a user's outgoing socket towards its host on the client port, with the window's
// handlers when the window exists.
void AttachClientSocket(state::Server& server, state::TMyNameUser& user);

}  // namespace qv::net
