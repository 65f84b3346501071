#include "net/no_delay.h"

namespace qv::net {

void NoDelayStep(const config::Settings& settings, platform::TcpClient& socket) {
  if (settings.TcpNoDelay) socket.SetNoDelay(true);
}

void NoDelayStep(const config::Settings& settings, platform::TcpConnection& connection) {
  if (settings.TcpNoDelay) connection.SetNoDelay(true);
}

}  // namespace qv::net
