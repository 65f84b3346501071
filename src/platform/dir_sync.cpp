#include "platform/dir_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace qv::platform {

void SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir =
      slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw FileError("cannot open directory " + dir + ": " + std::strerror(error), error);
  }
  const int result = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) throw FileError("sync directory " + dir + ": " + std::strerror(error), error);
}

}  // namespace qv::platform
