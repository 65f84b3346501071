#pragma once
// Puts the data request handler and the address-and-mail handler in place as the server's
// request handlers, answering through the reply package sender, and the sessions as the
// receivers of connection events. A request handler already set (a test's own) is kept.
#include "state/server.h"

namespace qv::service {

void InstallRequestHandlers(Server& server);

}  // namespace qv::service
