#pragma once
// Where a server keeps Server.ini, POP3/ and debug.log, and the single-instance names it holds.
// Without --dir: the executable's directory, and one server on the whole machine. With --dir:
// that directory, and one server per directory, so that servers on different directories (and
// ports) run side by side.
#include <memory>
#include <string>
#include <vector>

#include "platform/single_instance.h"

namespace qv::core {

struct ServerLocation {
  std::string dir;          // absolute, without a trailing separator
  bool machineWide = true;  // no --dir was given
};

// dirOption empty: the executable's directory. Otherwise the directory is created (mode 0750)
// when missing. Throws std::system_error when it cannot be.
ServerLocation ResolveServerLocation(const std::string& dirOption);

// Holds the names of a location: the machine-wide name (without --dir) and the directory's own
// name, so that a server started with --dir on another server's directory is refused too.
class InstanceClaim {
 public:
  explicit InstanceClaim(const ServerLocation& location);
  // False when another server holds one of the names.
  bool Acquired() const { return acquired_; }

 private:
  std::vector<std::unique_ptr<platform::SingleInstance>> names_;
  bool acquired_ = true;
};

}  // namespace qv::core
