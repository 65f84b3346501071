#include "net/admission.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

#include "net/frame_receiver.h"
#include "net/no_delay.h"
#include "net/socket_window.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "platform/text_utils.h"

namespace qv::net {

namespace {

// How long an identification waits for the reverse lookup of its peer's address.
constexpr std::chrono::milliseconds kLookupLimit{2000};

void RefuseUnknown(state::Server& server, platform::TcpConnection& connection,
                   const std::string& address, const std::string& name) {
  state::Metrics::Add(server.runtime.metrics.refusedUnknownHost);
  server.runtime.log.Write(server.setup.catalogue[wire::MsgId::IllegalUserFrom] + address + " " +
                           name + server.setup.catalogue[wire::MsgId::IllegalUserTail]);
  connection.Close();
}

// The user is known: refuses a second connection, else puts the user on the pending list.
void AdmitUser(state::Server& server, TFormSocksServer& window,
               const std::shared_ptr<platform::TcpConnection>& connection, state::TMyNameUser& user,
               const std::string& address, const std::string& name) {
  if (user.Connected && user.ServerSocketHandle != -1) {
    connection->Close();
    state::Metrics::Add(server.runtime.metrics.refusedDouble);
    server.runtime.log.Write("Error! Double connection - " + address + " " + name);
    return;
  }
  user.ServerSocketHandle = connection->Handle();
  // Every admitted user joins the pending list at once; the next tick of the connect timer
  // opens the outgoing connections of all of them, in the order they were admitted.
  {
    std::lock_guard sendLock(server.runtime.sendLock);
    if (window.Closing()) return;
    try {
      auto& pending = server.roster.pendingList;
      if (std::find(pending.begin(), pending.end(), &user) == pending.end()) {
        pending.push_back(&user);
      }
      window.EnableConnectTimer();
    } catch (...) {
      server.runtime.boundaryErrors.Report("Admission");
    }
  }
  // Whatever the client sent before it was admitted is read now, not at the next checker tick.
  std::weak_ptr<platform::TcpConnection> weak = connection;
  server.runtime.loop.Post([&server, weak] {
    if (auto c = weak.lock()) {
      c->Rearm();
      ReadEvent(server, *c);
    }
  });
}

}  // namespace

void ClientConnectEvent(state::Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection) {
  state::Metrics::Add(server.runtime.metrics.connectionsAccepted);
  // A user configured by its dotted address is known at once: no lookup, no thread, no wait
  // behind the lookups of strangers.
  const std::string address = connection->PeerAddress();
  if (state::TMyNameUser* user = UserByHostName(server, address)) {
    NoDelayStep(server.setup.settings, *connection);
    // Admitted after the events this turn of the loop already has: a client that reconnects at
    // once finds the end of its old connection handled first, not a double connection.
    std::weak_ptr<platform::TcpConnection> weak = connection;
    server.runtime.loop.Post([&server, &window, weak, user, address] {
      if (auto c = weak.lock()) AdmitUser(server, window, c, *user, address, "");
    });
    return;
  }
  // Every other peer needs a reverse lookup on a thread of its own. With every identification
  // slot taken the connection is turned away at once: the listener keeps taking connections,
  // so strangers can never hold up users known by address.
  if (!window.IdentificationSlotFree()) {
    RefuseUnknown(server, *connection, address, "");
    return;
  }
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
    server.runtime.log.Write("Error CreateThread for new connect.\r\n" +
                             platform::SystemErrorText(e.code().value()));
    platform::CloseQuietly(*connection);
    return;
  } catch (...) {
    server.runtime.log.Write("Error CreateProccess for new connect");
  }
  NoDelayStep(server.setup.settings, *connection);
}

void IdentifyConnection(state::Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection) {
  try {
    const std::string address = connection->PeerAddress();
    state::TMyNameUser* user = UserByHostName(server, address);
    if (user != nullptr) {
      AdmitUser(server, window, connection, *user, address, "");
      return;
    }
    // One query per address at a time, and a limit on the wait: while its address's query runs,
    // a further connection from it is closed at once.
    const std::optional<std::string> name = window.ReverseLookups().Lookup(address, kLookupLimit);
    if (!name) {
      RefuseUnknown(server, *connection, address, "");
      return;
    }
    if (!name->empty()) user = UserByHostName(server, *name);
    if (user == nullptr) {
      RefuseUnknown(server, *connection, address, *name);
      return;
    }
    AdmitUser(server, window, connection, *user, address, *name);
  } catch (...) {
    server.runtime.log.Write("Error of Server->OnConnect Client");
  }
}

}  // namespace qv::net
