#pragma once
// Puts the data request handler and the address-and-mail handler in place as the server's
// request handlers, answering through the reply package sender, and the sessions as the
// receivers of connection events. A request handler already set (a test's own) is kept.
#include <memory>

#include "service/member_service.h"
#include "state/server.h"

namespace qv::service {

// Returns the member API the native front end uses, for the other front ends.
std::shared_ptr<MemberService> InstallRequestHandlers(state::Server& server);

}  // namespace qv::service
