#include "net/admission.h"

#include <system_error>

#include "net/blocking_send.h"
#include "net/frame_receiver.h"
#include "net/socket_window.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "store/text_utils.h"

namespace qv::net {
namespace {

// The wait between two looks at the connect timer; woken early when the timer goes idle.
constexpr int kConnectTimerPollMs = 10;

}  // namespace

void ClientConnectEvent(Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection) {
  Metrics::Add(server.metrics.connectionsAccepted);
  try {
    auto thread = platform::WorkerThread::Start(
        [&server, &window, connection](platform::WorkerThread&) -> uint32_t {
          IdentifyConnection(server, window, connection);
          return 0;
        });
    window.KeepIdentificationThread(std::move(thread));
  } catch (const std::system_error& e) {
    server.log.Write("Error CreateThread for new connect.\r\n" +
                     store::SystemErrorText(e.code().value()));
    platform::CloseQuietly(*connection);
    return;
  } catch (...) {
    server.log.Write("Error CreateProccess for new connect");
  }
  service::NoDelayStep(server.settings, *connection);
}

void IdentifyConnection(Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection) {
  try {
    const std::string address = connection->PeerAddress();
    std::string name;
    TMyNameUser* user = UserByHostName(server, address);
    if (user == nullptr) {
      name = platform::ReverseLookup(address);
      if (!name.empty()) user = UserByHostName(server, name);
    }
    if (user == nullptr) {
      Metrics::Add(server.metrics.refusedUnknownHost);
      server.log.Write(server.catalogue[MsgId::IllegalUserFrom] + address + " " + name +
                       server.catalogue[MsgId::IllegalUserTail]);
      connection->Close();
      return;
    }
    if (user->Connected && user->ServerSocketHandle != -1) {
      connection->Close();
      Metrics::Add(server.metrics.refusedDouble);
      server.log.Write("Error! Double connection - " + address + " " + name);
      return;
    }
    user->ServerSocketHandle = connection->Handle();
    // A user is appended only while the connect timer is idle; appending enables it.
    for (;;) {
      {
        std::lock_guard sendLock(server.sendLock);
        if (window.Closing()) return;
        if (!window.ConnectTimerEnabled()) {
          try {
            server.pendingList.push_back(user);
            window.EnableConnectTimer();
          } catch (...) {
            server.boundaryErrors.Report("Admission");
          }
          break;
        }
      }
      window.WaitConnectTimerIdle(kConnectTimerPollMs);
    }
    // Whatever the client sent before it was admitted is read now, not at the next checker tick.
    std::weak_ptr<platform::TcpConnection> weak = connection;
    server.loop.Post([&server, weak] {
      if (auto c = weak.lock()) {
        c->Rearm();
        ReadEvent(server, *c);
      }
    });
  } catch (...) {
    server.log.Write("Error of Server->OnConnect Client");
  }
}

}  // namespace qv::net
