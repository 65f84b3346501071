#include "platform/state_directory.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

namespace qv::platform {

namespace {

constexpr mode_t kStateDirectoryMode = 0750;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeOne(const std::string& path) {
  if (IsDirectory(path)) return;
  if (::mkdir(path.c_str(), kStateDirectoryMode) == 0) {
    // The mode stands as given, whatever the umask took away.
    if (::chmod(path.c_str(), kStateDirectoryMode) != 0) {
      throw std::system_error(errno, std::generic_category(), "chmod " + path);
    }
    return;
  }
  const int error = errno;
  if (error == EEXIST && IsDirectory(path)) return;
  throw std::system_error(error, std::generic_category(), "cannot create directory " + path);
}

}  // namespace

std::string ResolveDirectory(const std::string& dir) {
  if (dir.empty() || !IsDirectory(dir)) return {};
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(dir.c_str(), nullptr), &::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string PrepareStateDirectory(const std::string& dir) {
  if (dir.empty()) throw std::system_error(EINVAL, std::generic_category(), "empty directory");
  for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
    if (dir[at - 1] != '/') MakeOne(dir.substr(0, at));
  }
  if (dir.back() != '/') MakeOne(dir);
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(dir.c_str(), nullptr), &::free);
  if (!resolved) throw std::system_error(errno, std::generic_category(), "realpath " + dir);
  return resolved.get();
}

ScratchDirectory::ScratchDirectory() {
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / "quorvane-XXXXXX").string();
  if (error) pattern = "/tmp/quorvane-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace qv::platform
