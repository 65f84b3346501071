#pragma once
// What this process may do with a path, asked before a start needs it (for the daemon's --check).
#include <string>

namespace qv::platform {

enum class PathKind { Missing, File, Directory, Other };

PathKind KindOf(const std::string& path);
// The process may read and write the existing file at path.
bool CanReadWrite(const std::string& path);
// The process may create entries in the existing directory dir.
bool CanCreateIn(const std::string& dir);
// The directory a path names its file in ("." for a bare name).
std::string ParentDirectory(const std::string& path);

}  // namespace qv::platform
