#pragma once
// What the connection layer offers the layers above it: closing an incoming connection, found
// by its handle. The socket window implements it; the sessions close the other side of a user's
// session through it.
#include <cstdint>

namespace qv::state {

class Connections {
 public:
  virtual ~Connections() = default;
  // Closes the incoming connection with this handle, its disconnect event first; a handle that
  // is no open connection's is ignored. Event thread.
  virtual void CloseIncoming(int32_t handle) = 0;
};

}  // namespace qv::state
