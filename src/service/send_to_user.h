#pragma once
// Sending one piece of data to one user without blocking the event thread and without
// reordering the user's data: an immediate non-blocking attempt when the user's sending is idle
// (and direct send is on), and a send worker for whatever is left. Workers send in the order of
// their sequence numbers (SendIssued, SendStarted, SendCompleted).
#include <cstdint>

#include "state/server.h"

namespace qv::service {

// Event thread. Does nothing unless the user is connected and not at fault. While pieces are
// held back for the user (user.Held), the piece joins them.
void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length);
// The same without looking at the held pieces: for releasing them in order.
void SendToUserNow(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length);

// True when every worker started for the user has finished sending.
bool SendingIdle(const TMyNameUser& user);

}  // namespace qv::service
