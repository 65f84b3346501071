#pragma once
// A user's worker table: terminating its running threads, reaping finished ones, and releasing
// the next suspended worker in the user's send order.
#include <cstddef>
#include <cstdint>

#include "state/server.h"

namespace qv::service {

inline constexpr int32_t kWorkerKindSend = 1;
// Beyond this many entries a reap that leaves running threads drops the finished head.
inline constexpr size_t kReapCompactThreshold = 50;

// Asks every still-running thread of the given kind to stop (send lock, then session lock, then
// the socket's lock so that no thread is inside a send). Does not wait for them to leave.
void TerminateWorkers(Server& server, TMyNameUser& user, int32_t kind);

// Forgets finished threads. Empties the table when none runs or when forced (threads still
// running are stopped and handed to the server's reaper); otherwise, when the table holds more
// than 50 entries, drops the entries before the first one still held.
void ReapWorkers(Server& server, TMyNameUser& user, bool force);

// Resumes the worker whose turn is next (sequence SendStarted + 1, kind 1), if any.
void ReleaseNextWorker(Server& server, TMyNameUser& user);

// Wakes the threads waiting for their turn in the user's send order.
void NotifySendTurn(TMyNameUser& user);

}  // namespace qv::service
