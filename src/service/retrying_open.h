#pragma once
// Opening a file that another thread may hold unshared: retried every few milliseconds until
// it opens or the time limit passes (then message 27 is logged).
#include <optional>
#include <string>

#include "platform/files.h"
#include "state/server.h"

namespace qv::service {

// True for an open failure that a later attempt may overcome: the file is held unshared by
// another (or the call was interrupted).
bool OpenMayRetry(int error);

std::optional<platform::File> RetryingOpen(Server& server, const std::string& fileName,
                                           platform::OpenMode mode);

}  // namespace qv::service
