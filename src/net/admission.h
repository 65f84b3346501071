#pragma once
// Admission of incoming connections: a peer whose address is a user's dotted address is admitted
// at once on the event thread; any other is identified on a thread of its own by its host name
// (a reverse lookup with a time limit, one per address at a time); an admitted connection is
// bound to its user and the user queued for the outgoing connection.
#include <memory>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

class TFormSocksServer;

// The listener's client-connect event (event thread).
void ClientConnectEvent(state::Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection);

// The identification of one connection; runs on its own thread.
void IdentifyConnection(state::Server& server, TFormSocksServer& window,
                        const std::shared_ptr<platform::TcpConnection>& connection);

}  // namespace qv::net
