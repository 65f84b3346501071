#pragma once
// Bringing the journalled changes of running groups into their datafiles: before a datafile is
// rewritten from outside the record store (the DB Structure dialog), and when the server stops,
// so that the datafile alone holds every change and the journal is empty. Event thread.
#include <string>

#include "state/server.h"

namespace qv::core {

// The groups whose datafile is datafilePath (the same file, by any name).
void FlushJournalsOf(state::Server& server, const std::string& datafilePath);
void FlushAllJournals(state::Server& server);

}  // namespace qv::core
