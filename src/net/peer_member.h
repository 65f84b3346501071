#pragma once
// Which configured user a peer is: the user whose host is the peer's dotted address, else the
// user whose host is the peer's reverse name. Both the TCP admission and the web front end
// decide by this one rule.
#include <string>

#include "state/server.h"

namespace qv::net {

// address: the peer's dotted IPv4 address; reverseName: its reverse name, empty when unknown or
// not looked up. Null when neither names a valid user's host.
state::TMyNameUser* MemberByPeer(state::Server& server, const std::string& address,
                                 const std::string& reverseName);

// True when some valid user's host is a name rather than a dotted address, so that only a
// reverse lookup of the peer can tell whether it is that user.
bool AnyHostIsAName(const state::Server& server);

}  // namespace qv::net
