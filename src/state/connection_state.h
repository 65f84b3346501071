#pragma once
// Receive state of one user's incoming connection: where the current frame stands. Touched on
// the event thread only (read events and the stack checker), so it takes no lock.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace qv::state {

struct TmyConnection {
  std::vector<uint8_t> RecvBuffer;  // payload of the current frame (or one spool chunk)
  std::optional<platform::File> SpoolStream;
  int32_t Remaining = 0;  // payload bytes still to come; 0 = a length header is due
  // A length header that arrived in pieces. Its first bytes are taken out of the socket at once:
  // left there, a few bytes can keep the receive window shut, and the rest would never come.
  uint8_t HeaderBytes[4] = {};
  int32_t HeaderFill = 0;
  // Bytes still to drop after a repaired 00 00 2F 09 header before the payload starts.
  int32_t SkipRemaining = 0;
  int32_t Received = 0;
  int32_t ChunkSize = 0;
  int32_t WriteOffset = 0;
  std::string SpoolFileName;
  int32_t RequestCode = 0;
  bool Spooling = false;
  // Handle of the incoming connection the state belongs to. A frame cut off by the end of a
  // connection is dropped when the next connection of the user sends, instead of taking that
  // connection's first bytes as the rest of the old frame.
  int32_t StreamHandle = -1;
  // Receives in a row that found nothing although bytes were reported; the read event never
  // waits for them, it counts them across events and reports a long run.
  int32_t EmptyReceives = 0;
};

}  // namespace qv::state
