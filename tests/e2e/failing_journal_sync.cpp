// Preloaded into the daemon by a test: while the file named by QV_FAIL_SYNC_FLAG exists, every
// fdatasync and fsync of a journal file (a name ending in ".jnl" or ".jn2") fails with EIO, as a
// disk whose writeback fails would report it. Other files, and every sync while the flag file
// is absent, go to the C library.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using SyncFn = int (*)(int);

bool IsFailingJournal(int fd) {
  const char* flag = std::getenv("QV_FAIL_SYNC_FLAG");
  if (flag == nullptr || ::access(flag, F_OK) != 0) return false;
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, path, sizeof path - 1);
  if (n < 4) return false;
  path[n] = '\0';
  const char* end = path + n - 4;
  return std::strcmp(end, ".jnl") == 0 || std::strcmp(end, ".jn2") == 0;
}

int Forward(const char* name, int fd) {
  const auto real = reinterpret_cast<SyncFn>(::dlsym(RTLD_NEXT, name));
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real(fd);
}

}  // namespace

extern "C" int fdatasync(int fd) {
  if (IsFailingJournal(fd)) {
    errno = EIO;
    return -1;
  }
  return Forward("fdatasync", fd);
}

extern "C" int fsync(int fd) {
  if (IsFailingJournal(fd)) {
    errno = EIO;
    return -1;
  }
  return Forward("fsync", fd);
}
