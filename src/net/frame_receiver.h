#pragma once
// Reassembles the frames a client sends on its incoming connection (int32 length, payload) in
// the user's receive state and hands each complete payload to the address-and-mail handler
// (first int32 4000) or the data request handler. Payloads up to 524288 bytes are held in
// memory, larger ones are spooled to POP3/<host><tick>.buf. The assembly itself is the
// socket-free FrameAssembler; this is the socket side of it.
#include "net/frame_assembler.h"
#include "platform/socket.h"
#include "state/server.h"

namespace qv::net {

// The read event of an incoming connection (and of the stack checker): reads everything
// available now, completing and handing over as many frames as it holds. Event thread.
void ReadEvent(Server& server, platform::TcpConnection& connection);

// Every 200 ms: the read event for every current connection of the listener.
void TcpStackCheckerTick(Server& server, platform::TcpListener& listener);

}  // namespace qv::net
