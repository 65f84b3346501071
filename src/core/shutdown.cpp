#include "core/shutdown.h"

namespace qv {

void RunShutdown(Server& server) {
  for (TMyDBUser& group : server.groups) {
    try {
      group.Subscriptions.clear();
      group.PollOwner = nullptr;
    } catch (...) {
    }
  }
}

}  // namespace qv
