// Layer probe: a store file must not be able to include a header of a higher layer.
#include "state/server.h"
#include "store/datafile.h"

int ProbeStateGroupCount(const qv::state::Server& server) {
  return static_cast<int>(server.roster.groups.size());
}
