#include "net/user_lookup.h"

#include <algorithm>

#include "config/ini_store.h"
#include "platform/text_utils.h"
#include "state/client_socket.h"

namespace qv::net {
namespace {

template <class Match>
TMyNameUser* FindUser(Server& server, Match match) {
  for (TMyDBUser& group : server.roster.groups) {
    for (TMyNameUser& user : group.Users) {
      if (user.Valid && match(user)) return &user;
    }
  }
  return nullptr;
}

}  // namespace

TMyNameUser* UserByIncomingHandle(Server& server, int32_t handle) {
  return FindUser(server,
                  [handle](const TMyNameUser& u) { return u.ServerSocketHandle == handle; });
}

TMyNameUser* UserByOutgoingSocket(Server& server, const platform::TcpClient& socket) {
  const int32_t handle = socket.Handle();
  if (handle == -1) return nullptr;
  return FindUser(server, [handle](const TMyNameUser& u) {
    return u.ClientSocket && u.ClientSocket->Handle() == handle;
  });
}

TMyNameUser* UserByHostName(Server& server, std::string_view host) {
  const std::string lower = platform::LowerCase(host);
  return FindUser(server, [&lower](const TMyNameUser& u) { return u.HostName == lower; });
}

TMyNameUser* UserByUserName(Server& server, std::string_view name) {
  return FindUser(server, [name](const TMyNameUser& u) { return u.UserName == name; });
}

}  // namespace qv::net
