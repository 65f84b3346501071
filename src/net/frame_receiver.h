#pragma once
// Reassembles the frames a client sends on its incoming connection (int32 length, payload) in
// the user's receive state and hands each complete payload to the address-and-mail handler
// (first int32 4000) or the data request handler. Payloads up to 524288 bytes are held in
// memory, larger ones are spooled to POP3/<host><tick>.buf.
#include <cstdint>

#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

inline constexpr int32_t kMaxInMemoryPayload = 524288;   // also the size of one receive step
inline constexpr int32_t kMisalignedHeader = 154075136;  // 00 00 2F 09: 2351 two bytes late

// The read event of an incoming connection (and of the stack checker): reads everything
// available now, completing and handing over as many frames as it holds. Event thread.
void ReadEvent(Server& server, platform::TcpConnection& connection);

// Every 200 ms: the read event for every current connection of the listener.
void TcpStackCheckerTick(Server& server, platform::TcpListener& listener);

// Forgets a frame in progress (closing and deleting a partial spool file).
void ResetReceiveState(TmyConnection& state);

}  // namespace qv::net
