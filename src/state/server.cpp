#include "state/server.h"

#include <chrono>
#include <cstring>

#include "config/default_config.h"
#include "platform/files.h"
#include "wire/packages.h"

namespace qv::state {

Server::Server(std::string exeDirectory, platform::EventLoop& eventLoop, FrontEnd& frontEnd)
    : runtime(setup.catalogue, eventLoop, frontEnd) {
  setup.exeDir = std::move(exeDirectory);
  if (setup.exeDir.size() > 1 && setup.exeDir.back() == '/') setup.exeDir.pop_back();
  setup.pop3Dir = platform::JoinPath(setup.exeDir, "POP3");
  setup.startedUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  roster.statusTable.resize(sizeof(int32_t));
  const int32_t code = wire::code::kStatusTable;
  std::memcpy(roster.statusTable.data(), &code, sizeof code);
}

std::string Server::ConfigPath() const {
  if (!setup.configFile.empty()) return setup.configFile;
  return platform::JoinPath(setup.exeDir, config::kConfigFileName);
}

std::string Server::DebugLogPath() const {
  return platform::JoinPath(setup.exeDir, "debug.log");
}

std::string Server::MailboxPath(const std::string& host) const {
  return platform::JoinPath(setup.pop3Dir, host + ".bin");
}

}  // namespace qv::state
