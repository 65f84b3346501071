#pragma once
// A user's session: from the moment the server's outgoing connection to the user's host is up
// until either of the user's two connections goes down. Start and end keep the connected flag,
// the counters, the user status table and its broadcasts, and the user's workers in order.
#include <cstdint>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::service {

// Event thread, when the user's outgoing connection is up. Returns the user's group index.
int32_t SessionStart(state::Server& server, state::TMyNameUser& user);

// Event thread, when a connection closes or fails. The user is found by its outgoing socket,
// or by the handle of its incoming connection. Returns the group index, or -1 when no user
// belongs to the connection or its session had already ended (the other side went first).
int32_t SessionEndOutgoing(state::Server& server, const platform::TcpClient& socket);
int32_t SessionEndIncoming(state::Server& server, int32_t incomingHandle);

// "Connections: " and the number of sessions, on the main window.
void ShowConnections(state::Server& server);

}  // namespace qv::service
