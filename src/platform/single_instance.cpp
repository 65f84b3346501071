#include "platform/single_instance.h"

#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace qv::platform {

SingleInstance::SingleInstance(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL byte, then the name (cut to fit).
  const size_t n = std::min(name.size(), sizeof(addr.sun_path) - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    const int error = errno;
    ::close(fd);
    if (error != EADDRINUSE) throw std::system_error(error, std::generic_category(), "bind");
    return;
  }
  fd_ = fd;
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

std::string ServerInstanceName() {
  return "TFormQVServer/Quorvane Server";
}

std::string DirectoryInstanceName(const std::string& dir) {
  std::string name = ServerInstanceName() + ":" + dir;
  if (name.size() < sizeof(sockaddr_un::sun_path) - 1) return name;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a, the same in every build
  for (const unsigned char c : dir) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return ServerInstanceName() + "#" + hex;
}

std::string ExecutableDirectory() {
  char path[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", path, PATH_MAX);
  if (n <= 0) throw std::system_error(errno, std::generic_category(), "readlink /proc/self/exe");
  std::string dir(path, static_cast<size_t>(n));
  const size_t slash = dir.find_last_of('/');
  dir = slash == 0 ? "/" : dir.substr(0, slash);
  return dir;
}

}  // namespace qv::platform
