#pragma once
// Opening a file that another thread may hold unshared: retried every few milliseconds until
// it opens or the time limit passes (then message 27 is logged).
#include <optional>
#include <string>

#include "core/server.h"
#include "platform/files.h"

namespace qv::service {

std::optional<platform::File> RetryingOpen(Server& server, const std::string& fileName,
                                           platform::OpenMode mode);

}  // namespace qv::service
