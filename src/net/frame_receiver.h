#pragma once
// Reassembles the frames a client sends on its incoming connection (int32 length, payload) in
// the user's receive state and hands each complete payload to the address-and-mail handler
// (first int32 4000) or the data request handler. Payloads up to 524288 bytes are held in
// memory, larger ones are spooled to POP3/<host><tick>.buf. The assembly itself is the
// socket-free FrameAssembler; this is the socket side of it.
#include <span>

#include "net/frame_assembler.h"
#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

// The read event of an incoming connection (and of the stack checker): reads everything
// available now, completing and handing over as many frames as it holds. Event thread.
void ReadEvent(state::Server& server, platform::TcpConnection& connection);

// The read event's work on bytes already taken from user's incoming connection, for callers
// without a socket (the fuzz target): frames are completed and handed to the server's request
// handlers as from the socket; taken counts the bytes used. Close: the connection would go.
// Throws when a spool file cannot be written.
FeedResult ReceiveBytes(state::Server& server, state::TMyNameUser& user,
                        std::span<const uint8_t> bytes, size_t& taken);

// Every 200 ms: the read event for every current connection of the listener.
void TcpStackCheckerTick(state::Server& server, platform::TcpListener& listener);

}  // namespace qv::net
