#pragma once
// One server per machine: an abstract UNIX socket named after the main window's class and
// title. The kernel removes it when the process ends, however it ends.
#include <string>

namespace qv::platform {

class SingleInstance {
 public:
  // Claims the name; Acquired() tells whether this process is the only one holding it.
  explicit SingleInstance(const std::string& name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  bool Acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The name both server programs use: class "TFormQVServer", title "Quorvane Server".
std::string ServerInstanceName();
// The name of the server that keeps its files in dir (an absolute path): the same class and title
// with the directory; a path too long for the name is replaced by a hash of it.
std::string DirectoryInstanceName(const std::string& dir);

// Directory of the running executable, without a trailing separator.
std::string ExecutableDirectory();

}  // namespace qv::platform
