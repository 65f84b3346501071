#pragma once
// Sending to one user through its outbox (outbox.h), for the reply sender, the housekeeping
// tick and the mail request. Event thread. Nothing happens unless the user is connected and not
// at fault.
#include <cstdint>

#include "service/outbox.h"
#include "state/server.h"

namespace qv::service {

void SendToUser(state::Server& server, state::TMyNameUser& user, const uint8_t* data,
                int32_t length);
// The same bytes for several users: the first user whose piece has to wait copies them into
// shared, and every later one waits with that copy.
void SendToUser(state::Server& server, state::TMyNameUser& user, const uint8_t* data,
                int32_t length, state::SharedBytes& shared);
// All of a shared buffer; what has to wait refers to it without a copy.
void SendToUser(state::Server& server, state::TMyNameUser& user, const state::SharedBytes& bytes);

// Delivers the user's stored mail in the user's send order.
void QueueMailDelivery(state::Server& server, state::TMyNameUser& user);

// True when nothing waits to be sent to the user.
bool SendingIdle(state::Server& server, state::TMyNameUser& user);

}  // namespace qv::service
