#include "core/housekeeping.h"

namespace qv {

void HousekeepingTick(Server& server) {
  server.log.Flush(server.front.View());
}

}  // namespace qv
