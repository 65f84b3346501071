#include "net/admission.h"

#include <algorithm>
#include <system_error>

#include "net/blocking_send.h"
#include "net/frame_receiver.h"
#include "net/socket_window.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "platform/text_utils.h"

namespace qv::net {

void ClientConnectEvent(Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection) {
  Metrics::Add(server.metrics.connectionsAccepted);
  try {
    window.IdentificationStarted();
    std::shared_ptr<platform::WorkerThread> thread;
    try {
      thread = platform::WorkerThread::Start(
          window.IdentificationThreads(),
          [&server, &window, connection](platform::WorkerThread&) -> uint32_t {
            IdentifyConnection(server, window, connection);
            window.IdentificationEnded();
            return 0;
          });
    } catch (...) {
      window.IdentificationEnded();
      throw;
    }
    window.KeepIdentificationThread(std::move(thread));
  } catch (const std::system_error& e) {
    server.log.Write("Error CreateThread for new connect.\r\n" +
                     platform::SystemErrorText(e.code().value()));
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
      name = window.ReverseLookups().Lookup(address);
      if (!name.empty()) user = UserByHostName(server, name);
    }
    if (user == nullptr) {
      Metrics::Add(server.metrics.refusedUnknownHost);
      server.log.Write(server.catalogue[wire::MsgId::IllegalUserFrom] + address + " " + name +
                       server.catalogue[wire::MsgId::IllegalUserTail]);
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
    // Every admitted user joins the pending list at once; the next tick of the connect timer
    // opens the outgoing connections of all of them, in the order they were admitted.
    {
      std::lock_guard sendLock(server.sendLock);
      if (window.Closing()) return;
      try {
        auto& pending = server.pendingList;
        if (std::find(pending.begin(), pending.end(), user) == pending.end()) {
          pending.push_back(user);
        }
        window.EnableConnectTimer();
      } catch (...) {
        server.boundaryErrors.Report("Admission");
      }
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
