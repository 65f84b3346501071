#pragma once
// The no-delay step: turns off the delay of small segments on a new connection when the
// TCPNoDelay setting is on; errors are ignored.
#include "config/settings.h"
#include "platform/socket.h"

namespace qv::net {

void NoDelayStep(const config::Settings& settings, platform::TcpClient& socket);
void NoDelayStep(const config::Settings& settings, platform::TcpConnection& connection);

}  // namespace qv::net
