#include "core/check_config.h"

#include "config/default_config.h"
#include "config/ini_store.h"
#include "core/console_front_end.h"
#include "core/settings_check.h"
#include "core/startup.h"
#include "platform/files.h"
#include "platform/poll_loop.h"
#include "platform/state_directory.h"
#include "state/server.h"

namespace qv::core {

namespace {

bool StartupWouldSucceed(const std::string& dir, const std::string& configFile, std::FILE* out) {
  platform::PollLoop loop;  // never run: nothing is opened that would need it
  ConsoleFrontEnd front(out);
  state::Server server(dir, loop, front);
  server.setup.configFile = configFile;
  const bool ok = RunStartup(server, StartupOptions{.checkOnly = true});
  server.runtime.log.Flush(front.View());
  return ok;
}

// Prints the findings; true when none is a fault.
bool ReportFindings(const std::string& configPath, const std::string& stateDir, std::FILE* out) {
  bool ok = true;
  for (const SettingsFinding& finding : CheckSettings(config::IniStore(configPath), stateDir)) {
    std::fprintf(out, "%s: %s: %s\n", configPath.c_str(), finding.fault ? "error" : "note",
                 finding.text.c_str());
    ok = ok && !finding.fault;
  }
  return ok;
}

}  // namespace

bool CheckConfiguration(const std::string& dir, const std::string& configFile, std::FILE* out) {
  const std::string path =
      configFile.empty() ? platform::JoinPath(dir, config::kConfigFileName) : configFile;
  if (platform::FileExists(path)) {
    const bool started = StartupWouldSucceed(dir, configFile, out);
    const bool clean = ReportFindings(path, dir, out);
    return started && clean;
  }
  std::fprintf(out, "No %s: the first start writes the default file, which gives:\n", path.c_str());
  platform::ScratchDirectory scratch;
  return StartupWouldSucceed(scratch.Path(), "", out);
}

}  // namespace qv::core
