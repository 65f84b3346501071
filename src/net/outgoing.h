#pragma once
// The events of both kinds of connection and the connect timer: opening the outgoing connection
// of each newly admitted user, the retry of a refused connection up to the reconnect limit, and
// the error handlers, which always clear the reported code.
#include <system_error>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

class TFormSocksServer;

// Outgoing (user's client socket) events.
void ClientSocketConnect(state::Server& server, platform::TcpClient& socket);
void ClientSocketDisconnect(state::Server& server, platform::TcpClient& socket);
void ClientSocketError(state::Server& server, platform::TcpClient& socket, std::error_code& code);

// Incoming (listener's connection) events.
void ServerClientDisconnect(state::Server& server, platform::TcpConnection& connection);
void ServerClientError(state::Server& server, platform::TcpConnection& connection,
                       std::error_code& code);

// One tick of the connect timer.
void ConnectTimerTick(state::Server& server, TFormSocksServer& window);

}  // namespace qv::net
