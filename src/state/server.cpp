#include "state/server.h"

#include <chrono>
#include <cstring>

#include "config/default_config.h"
#include "platform/files.h"
#include "wire/packages.h"

namespace qv {

Server::Server(std::string exeDirectory, platform::EventLoop& eventLoop, FrontEnd& frontEnd)
    : exeDir(std::move(exeDirectory)), loop(eventLoop), front(frontEnd) {
  if (exeDir.size() > 1 && exeDir.back() == '/') exeDir.pop_back();
  pop3Dir = platform::JoinPath(exeDir, "POP3");
  startedUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  statusTable.resize(sizeof(int32_t));
  const int32_t code = wire::code::kStatusTable;
  std::memcpy(statusTable.data(), &code, sizeof code);
}

std::string Server::ConfigPath() const {
  if (!configFile.empty()) return configFile;
  return platform::JoinPath(exeDir, config::kConfigFileName);
}

std::string Server::DebugLogPath() const {
  return platform::JoinPath(exeDir, "debug.log");
}

std::string Server::MailboxPath(const std::string& host) const {
  return platform::JoinPath(pop3Dir, host + ".bin");
}

}  // namespace qv
