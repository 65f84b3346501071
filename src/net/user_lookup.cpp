#include "net/user_lookup.h"

#include <algorithm>
#include <cctype>

#include "config/ini_store.h"
#include "net/client_socket.h"

namespace qv::net {
namespace {

template <class Match>
TMyNameUser* FindUser(Server& server, Match match) {
  for (TMyDBUser& group : server.groups) {
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
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return FindUser(server, [&lower](const TMyNameUser& u) { return u.HostName == lower; });
}

TMyNameUser* UserByUserName(Server& server, std::string_view name) {
  return FindUser(server, [name](const TMyNameUser& u) { return u.UserName == name; });
}

bool DottedAddressCheck(const std::string& text, std::string& normalised) {
  std::string result;
  std::string_view rest = text;
  for (int part = 0; part < 4; ++part) {
    std::string_view number = rest;
    if (part < 3) {
      const size_t dot = rest.find('.');
      if (dot == std::string_view::npos) return false;
      number = rest.substr(0, dot);
      rest.remove_prefix(dot + 1);
    }
    int32_t value = 0;
    if (!config::TryParseInt(number, value)) return false;
    if (part > 0) result += '.';
    result += std::to_string(value);
  }
  normalised = result;
  return true;
}

}  // namespace qv::net
