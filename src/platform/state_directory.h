#pragma once
// The directory a server keeps Server.ini, POP3/ and debug.log in, when the command line names
// one.
#include <string>

namespace qv::platform {

// Creates dir when it is missing (each missing component with mode 0750) and returns its
// absolute path with symbolic links resolved. Throws std::system_error naming the path.
std::string PrepareStateDirectory(const std::string& dir);

// Absolute path of an existing directory, links resolved; empty when it does not exist.
std::string ResolveDirectory(const std::string& dir);

// A new empty directory under the temporary directory ($TMPDIR or /tmp), removed with its files
// when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();  // throws std::system_error
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qv::platform
