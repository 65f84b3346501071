#pragma once
// Admission of incoming connections: each new connection is identified on a thread of its own
// (the reverse name lookup blocks), by its peer address and then by its peer's host name; an
// admitted connection is bound to its user and the user queued for the outgoing connection.
#include <memory>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

class TFormSocksServer;

// The listener's client-connect event (event thread).
void ClientConnectEvent(Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection);

// The identification of one connection; runs on its own thread.
void IdentifyConnection(Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection);

}  // namespace qv::net
