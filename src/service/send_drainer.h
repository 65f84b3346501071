#pragma once
// The worker side of a user's send queue: queuing a piece (and starting the user's drainer when
// none runs), and the drainer, which sends the queued pieces one after the other with blocking
// sends and runs mail deliveries in their turn. At most one drainer per user drains its queue,
// so the number of send threads is bounded by the users with something waiting, never by the
// number of pieces.
#include "state/send_queue.h"
#include "state/server.h"

namespace qv::service {

// Event thread. Gives the piece the next send sequence number and queues it. A queue that would
// pass the byte limit faults the user instead: the queue is dropped and a line naming the user
// is logged.
void QueuePiece(Server& server, TMyNameUser& user, QueuedPiece piece);

// A buffer for bytes that several pieces may share; given back for reuse once released.
SharedBytes ShareBytes(SendBuffers& buffers, std::vector<uint8_t> bytes);

// The text logged when a user's queue would pass its limit.
std::string QueueLimitText(const TMyNameUser& user, size_t limit);

}  // namespace qv::service
