#include "net/peer_member.h"

#include "config/feed_settings.h"
#include "net/user_lookup.h"

namespace qv::net {

state::TMyNameUser* MemberByPeer(state::Server& server, const std::string& address,
                                 const std::string& reverseName) {
  state::TMyNameUser* user = address.empty() ? nullptr : UserByHostName(server, address);
  if (user == nullptr && !reverseName.empty()) user = UserByHostName(server, reverseName);
  return user;
}

bool AnyHostIsAName(const state::Server& server) {
  for (const state::TMyDBUser& group : server.roster.groups) {
    for (const state::TMyNameUser& user : group.Users) {
      if (user.Valid && !config::ParseIpv4(user.HostName)) return true;
    }
  }
  return false;
}

}  // namespace qv::net
