#include "core/server_location.h"

#include "platform/state_directory.h"

namespace qv::core {

ServerLocation ResolveServerLocation(const std::string& dirOption) {
  ServerLocation location;
  if (dirOption.empty()) {
    location.dir = platform::ExecutableDirectory();
    location.machineWide = true;
  } else {
    location.dir = platform::PrepareStateDirectory(dirOption);
    location.machineWide = false;
  }
  return location;
}

InstanceClaim::InstanceClaim(const ServerLocation& location) {
  std::vector<std::string> names;
  if (location.machineWide) names.push_back(platform::ServerInstanceName());
  names.push_back(platform::DirectoryInstanceName(location.dir));
  for (const std::string& name : names) {
    names_.push_back(std::make_unique<platform::SingleInstance>(name));
    if (!names_.back()->Acquired()) {
      acquired_ = false;
      return;
    }
  }
}

}  // namespace qv::core
