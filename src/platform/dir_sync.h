#pragma once
// Making a rename or a new file name durable: the directory that holds it is synced.
#include <string>

namespace qv::platform {

// Syncs the directory that holds path (its parent; "." for a bare name). Throws FileError.
void SyncDirectoryOf(const std::string& path);

}  // namespace qv::platform
