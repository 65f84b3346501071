#include "platform/file_access.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

PathKind KindOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return PathKind::Missing;
  if (S_ISREG(info.st_mode)) return PathKind::File;
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

bool CanReadWrite(const std::string& path) {
  // The effective ids decide, as they will when the server opens the file.
  return ::eaccess(path.c_str(), R_OK | W_OK) == 0;
}

bool CanCreateIn(const std::string& dir) {
  return KindOf(dir) == PathKind::Directory && ::eaccess(dir.c_str(), W_OK | X_OK) == 0;
}

std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace qv::platform
