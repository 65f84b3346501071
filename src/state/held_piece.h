#pragma once
// A piece of data held back for one user: an acknowledgment waiting for the journal sync that
// makes its edit durable (ticket > 0), or anything queued behind one (ticket 0), so that the user
// receives everything in the order the server handled it.
#include <cstdint>
#include <vector>

namespace qv::service {

struct HeldPiece {
  uint64_t Ticket = 0;
  std::vector<uint8_t> Bytes;
  bool MailDelivery = false;  // a delivery of the user's stored mail, queued when released
};

}  // namespace qv::service
