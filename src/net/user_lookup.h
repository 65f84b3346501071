#pragma once
// Finding a user: by the handle of its incoming connection, by its outgoing socket, by host name
// and by user name. Every lookup walks the groups in order and each group's users in order,
// skips users that are not valid and returns the first match, or null.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

state::TMyNameUser* UserByIncomingHandle(state::Server& server, int32_t handle);
state::TMyNameUser* UserByOutgoingSocket(state::Server& server, const platform::TcpClient& socket);
state::TMyNameUser* UserByHostName(state::Server& server, std::string_view host);  // case ignored
state::TMyNameUser* UserByUserName(state::Server& server, std::string_view name);  // exact

}  // namespace qv::net
