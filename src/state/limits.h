#pragma once
// The bounds on everything whose size a client decides: what waits to be sent to a user, the
// marks a user holds, the recipients and address list of a mail package, the size of a spooled
// frame and of a host's stored mail, and the identifications running at once. Named values in
// one place, so that tests can shrink them and the log lines can quote them.
#include <cstddef>
#include <cstdint>

namespace qv::state {

struct Limits {
  // Bytes waiting in one user's send queue; a user whose queue would pass it is faulted and its
  // queue dropped, as when a send times out.
  size_t sendQueueBytes = size_t{8} << 20;
  // Marks (request 7001 with the flag set) one user may hold in its group; more are refused.
  size_t marksPerUser = 1000;
  // A frame larger than this is dropped and its connection closed (message 21).
  int64_t spoolBytes = int64_t{64} << 20;
  // Stored mail per host (the sizes of the message files its notices name); a mail that would
  // pass it is not stored for that host.
  int64_t mailboxBytesPerHost = int64_t{256} << 20;
  // Identifications (each may wait for a reverse name lookup) running at once; further
  // connections wait in the listen queue.
  int identificationsInFlight = 32;
};

}  // namespace qv::state
