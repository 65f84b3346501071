#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::platform {

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(other.fd_), pos_(other.pos_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    pos_ = other.pos_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

std::optional<File> File::TryOpen(const std::string& path, OpenMode mode, bool unshared) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::Read:
      flags |= O_RDONLY;
      break;
    case OpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::CreateReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
    case OpenMode::CreateTruncate:
      flags |= O_RDWR | O_CREAT;  // emptied only once the lock is ours
      break;
    case OpenMode::CreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return std::nullopt;
  if (unshared && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return std::nullopt;
  }
  if (mode == OpenMode::CreateTruncate && ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return std::nullopt;
  }
  return File(fd, path);
}

File File::Open(const std::string& path, OpenMode mode, bool unshared) {
  auto file = TryOpen(path, mode, unshared);
  if (!file) {
    const int error = errno;
    throw FileError("cannot open " + path + ": " + std::strerror(error), error);
  }
  return std::move(*file);
}

void File::Fail(const char* op, int error) const {
  throw FileError(
      std::string(op) + " " + path_ + ": " + (error ? std::strerror(error) : "short transfer"),
      error);
}

int64_t File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("stat", errno);
  return st.st_size;
}

int64_t File::ModifiedNs() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("stat", errno);
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void File::Seek(int64_t pos) {
  if (pos < 0) Fail("seek", EINVAL);
  pos_ = pos;
}

size_t File::ReadSome(void* buffer, size_t n) {
  for (;;) {
    const ssize_t r = ::pread(fd_, buffer, n, pos_);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) Fail("read", errno);
    pos_ += r;
    return static_cast<size_t>(r);
  }
}

void File::Read(void* buffer, size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    const size_t r = ReadSome(p, n);
    if (r == 0) Fail("read", 0);
    p += r;
    n -= r;
  }
}

void File::Write(const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, p, n, pos_);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) Fail("write", errno);
    if (w == 0) Fail("write", 0);
    pos_ += w;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// ReadAt and WriteAt neither use nor move the file position, so that two threads may use them on
// one File at once (the journal's appends and the rewrite of its tail after a failed sync).
void File::ReadAt(int64_t pos, void* buffer, size_t n) {
  if (pos < 0) Fail("read", EINVAL);
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    const ssize_t r = ::pread(fd_, p, n, pos);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) Fail("read", errno);
    if (r == 0) Fail("read", 0);
    pos += r;
    p += r;
    n -= static_cast<size_t>(r);
  }
}

void File::WriteAt(int64_t pos, const void* data, size_t n) {
  if (pos < 0) Fail("write", EINVAL);
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, p, n, pos);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) Fail("write", errno);
    if (w == 0) Fail("write", 0);
    pos += w;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void File::Truncate(int64_t size) {
  if (::ftruncate(fd_, size) != 0) Fail("truncate", errno);
  if (pos_ > size) pos_ = size;
}

void File::Flush() {
  if (::fdatasync(fd_) != 0) Fail("sync", errno);
}

void File::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) Fail("close", errno);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void CreateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && DirectoryExists(path))) {
    const int error = errno;
    throw FileError("cannot create directory " + path + ": " + std::strerror(error), error);
  }
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool LinkFile(const std::string& existing, const std::string& newName) {
  return ::link(existing.c_str(), newName.c_str()) == 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string ChangeExtension(const std::string& path, const std::string& ext) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace qv::platform
