#pragma once
// Sending one piece of data to one user without blocking the event thread and without
// reordering the user's data: an immediate non-blocking attempt when the user's sending is idle
// (and direct send is on), and the user's send queue for whatever is left, drained in the order
// of the pieces' sequence numbers (SendIssued, SendStarted, SendCompleted) by one worker.
#include <cstdint>

#include "state/send_queue.h"
#include "state/server.h"

namespace qv::service {

// Event thread. Does nothing unless the user is connected and not at fault. What cannot leave
// at once is copied into the queue. While pieces are held back for the user (user.Held, behind
// an acknowledgment that waits for its journal sync), every piece joins them instead.
void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length);
// The same without looking at the held pieces: for releasing them in order.
void SendToUserNow(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length);
// The same for a shared buffer (all of it): what cannot leave at once is queued without a copy.
void SendToUser(Server& server, TMyNameUser& user, const SharedBytes& bytes);
// The same bytes for several users: the first user whose piece has to wait copies them into
// shared, and every later one queues that copy.
void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length,
                SharedBytes& shared);

// Queues a delivery of the user's stored mail in the user's send order (event thread).
void QueueMailDelivery(Server& server, TMyNameUser& user);
// The same without looking at the held pieces.
void QueueMailDeliveryNow(Server& server, TMyNameUser& user);

// True when every piece issued for the user has been sent.
bool SendingIdle(const TMyNameUser& user);

}  // namespace qv::service
