#include "net/socket_window.h"
#include "config/dotted_address.h"

#include <chrono>

#include "net/admission.h"
#include "net/frame_receiver.h"
#include "net/outgoing.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "platform/text_utils.h"

namespace qv::net {
namespace {

// Runs a socket event handler or timer tick: what escapes it is logged (once per kind) here
// instead of vanishing in the socket layer.
template <class Fn>
void Guarded(state::Server& server, const char* where, Fn&& handler) {
  try {
    handler();
  } catch (...) {
    server.runtime.boundaryErrors.Report(where);
  }
}

}  // namespace

TFormSocksServer::TFormSocksServer(state::Server& server)
    : ServerSocket1(server.runtime.loop), server_(server) {
  ServerSocket1.OnClientConnect = [this](const std::shared_ptr<platform::TcpConnection>& c) {
    Guarded(server_, "Client connect", [&] { ClientConnectEvent(server_, *this, c); });
  };
  ServerSocket1.OnClientRead = [this](platform::TcpConnection& c) {
    Guarded(server_, "Client read", [&] { ReadEvent(server_, c); });
  };
  ServerSocket1.OnClientDisconnect = [this](platform::TcpConnection& c) {
    Guarded(server_, "Client disconnect", [&] { ServerClientDisconnect(server_, c); });
  };
  ServerSocket1.OnClientError = [this](platform::TcpConnection& c, std::error_code& code) {
    Guarded(server_, "Client error", [&] { ServerClientError(server_, c, code); });
  };
  ServerSocket1.OnAcceptLimit = [this](std::error_code error) {
    server_.runtime.log.Write("Connections refused: out of file descriptors (" +
                              platform::SystemErrorText(error.value()) + ")");
  };
  timerConnect_ = server.runtime.loop.AddTimer(kConnectTimerMs, false, [this] {
    Guarded(server_, "Connect timer", [&] { ConnectTimerTick(server_, *this); });
  });
  timerStackChecker_ = server.runtime.loop.AddTimer(kStackCheckerMs, true, [this] {
    Guarded(server_, "TCP stack checker", [&] { TcpStackCheckerTick(server_, ServerSocket1); });
  });
  std::lock_guard sessionLock(server.runtime.sessionLock);
  server.runtime.connections = this;
}

TFormSocksServer::~TFormSocksServer() {
  platform::CloseQuietly(*this);
  server_.runtime.loop.RemoveTimer(timerConnect_);
  server_.runtime.loop.RemoveTimer(timerStackChecker_);
}

void TFormSocksServer::OpenListener(int port) {
  ServerSocket1.Open(port);
}

void TFormSocksServer::AttachTemplateHandlers(state::ClientSocket& socket) {
  socket.OnConnect = [this](platform::TcpClient& s) {
    Guarded(server_, "Outgoing connect", [&] { ClientSocketConnect(server_, s); });
  };
  socket.OnDisconnect = [this](platform::TcpClient& s) {
    Guarded(server_, "Outgoing disconnect", [&] { ClientSocketDisconnect(server_, s); });
  };
  socket.OnError = [this](platform::TcpClient& s, std::error_code& code) {
    Guarded(server_, "Outgoing error", [&] { ClientSocketError(server_, s, code); });
  };
}

void TFormSocksServer::EnableConnectTimer() {
  server_.runtime.loop.SetTimerEnabled(timerConnect_, true);
}

bool TFormSocksServer::ConnectTimerEnabled() const {
  return server_.runtime.loop.TimerEnabled(timerConnect_);
}

void TFormSocksServer::ConnectTimerDisabled() {
  server_.runtime.loop.SetTimerEnabled(timerConnect_, false);
  std::lock_guard lock(connectTimerMutex_);
  connectTimerIdle_.notify_all();
}

void TFormSocksServer::WaitConnectTimerIdle(int limitMs) {
  std::unique_lock lock(connectTimerMutex_);
  connectTimerIdle_.wait_for(lock, std::chrono::milliseconds(limitMs),
                             [this] { return !ConnectTimerEnabled() || closing_; });
}

void TFormSocksServer::KeepIdentificationThread(std::shared_ptr<platform::WorkerThread> thread) {
  std::vector<std::shared_ptr<platform::WorkerThread>> finished;
  std::lock_guard lock(identificationMutex_);
  for (auto it = identificationThreads_.begin(); it != identificationThreads_.end();) {
    if (!(*it)->Running()) {
      finished.push_back(std::move(*it));
      it = identificationThreads_.erase(it);
    } else {
      ++it;
    }
  }
  identificationThreads_.push_back(std::move(thread));
}

bool TFormSocksServer::IdentificationSlotFree() const {
  return identifying_.load() < server_.setup.limits.identificationsInFlight;
}

void TFormSocksServer::IdentificationStarted() {
  ++identifying_;
}

void TFormSocksServer::IdentificationEnded() {
  if (identifying_.fetch_sub(1) != server_.setup.limits.identificationsInFlight) return;
  // The listener may have stopped at the bound: it takes connections again on the event thread.
  server_.runtime.loop.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired() && !closing_) ServerSocket1.ResumeAccepting();
  });
}

void TFormSocksServer::CloseIncoming(int32_t handle) {
  auto lock = ServerSocket1.LockConnections();
  ServerSocket1.CloseByHandle(handle);
}

void TFormSocksServer::Close() {
  if (closed_) return;
  closed_ = true;
  closing_ = true;
  {
    std::lock_guard lock(connectTimerMutex_);
    connectTimerIdle_.notify_all();
  }
  server_.runtime.loop.SetTimerEnabled(timerStackChecker_, false);
  server_.runtime.loop.SetTimerEnabled(timerConnect_, false);
  if (ServerSocket1.Active()) platform::CloseQuietly(ServerSocket1);
  for (state::TMyDBUser& group : server_.roster.groups) {
    for (state::TMyNameUser& user : group.Users) {
      if (user.ClientSocket) platform::CloseQuietly(*user.ClientSocket);
    }
  }
  // Identification threads leave quickly once closing is set (a reverse lookup may still run).
  std::vector<std::shared_ptr<platform::WorkerThread>> threads;
  {
    std::lock_guard lock(identificationMutex_);
    threads.swap(identificationThreads_);
  }
  for (auto& thread : threads) thread->JoinFor(std::chrono::seconds(10));
  std::lock_guard sessionLock(server_.runtime.sessionLock);
  server_.runtime.connections = nullptr;
}

void AttachClientSocket(state::Server& server, state::TMyNameUser& user) {
  auto socket = std::make_shared<state::ClientSocket>(server.runtime.loop);
  socket->SetPort(server.setup.settings.ClientPort);
  socket->SetHost(user.HostName);
  std::string normalised;
  socket->SetAddress(config::CheckDottedAddress(user.HostName, normalised) ? normalised
                                                                           : std::string());
  if (auto* window = dynamic_cast<TFormSocksServer*>(server.runtime.connections)) {
    window->AttachTemplateHandlers(*socket);
  }
  user.ClientSocket = std::move(socket);
}

}  // namespace qv::net
