#include "net/user_lookup.h"

#include <algorithm>

#include "config/ini_store.h"
#include "platform/text_utils.h"
#include "state/client_socket.h"

namespace qv::net {
namespace {

template <class Match>
state::TMyNameUser* FindUser(state::Server& server, Match match) {
  for (state::TMyDBUser& group : server.roster.groups) {
    for (state::TMyNameUser& user : group.Users) {
      if (user.Valid && match(user)) return &user;
    }
  }
  return nullptr;
}

}  // namespace

state::TMyNameUser* UserByIncomingHandle(state::Server& server, int32_t handle) {
  return FindUser(server,
                  [handle](const state::TMyNameUser& u) { return u.ServerSocketHandle == handle; });
}

state::TMyNameUser* UserByOutgoingSocket(state::Server& server, const platform::TcpClient& socket) {
  const int32_t handle = socket.Handle();
  if (handle == -1) return nullptr;
  return FindUser(server, [handle](const state::TMyNameUser& u) {
    return u.ClientSocket && u.ClientSocket->Handle() == handle;
  });
}

state::TMyNameUser* UserByHostName(state::Server& server, std::string_view host) {
  const std::string lower = platform::LowerCase(host);
  return FindUser(server, [&lower](const state::TMyNameUser& u) { return u.HostName == lower; });
}

state::TMyNameUser* UserByUserName(state::Server& server, std::string_view name) {
  return FindUser(server, [name](const state::TMyNameUser& u) { return u.UserName == name; });
}

}  // namespace qv::net
