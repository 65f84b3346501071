#pragma once
// A user's outgoing connection to its host on the client port (the server's replies travel on
// it). The socket layer's client socket, under the name the group table uses.
#include "platform/socket.h"

namespace qv::state {

class ClientSocket final : public platform::TcpClient {
 public:
  using platform::TcpClient::TcpClient;
};

}  // namespace qv::state
