#include "core/check_config.h"

#include "config/default_config.h"
#include "core/console_front_end.h"
#include "core/startup.h"
#include "platform/files.h"
#include "platform/poll_loop.h"
#include "platform/state_directory.h"
#include "state/server.h"

namespace qv {

namespace {

bool CheckIn(const std::string& dir, std::FILE* out) {
  platform::PollLoop loop;  // never run: nothing is opened that would need it
  ConsoleFrontEnd front(out);
  Server server(dir, loop, front);
  const bool ok = RunStartup(server, StartupOptions{.checkOnly = true});
  server.log.Flush(front.View());
  return ok;
}

}  // namespace

bool CheckConfiguration(const std::string& dir, std::FILE* out) {
  if (platform::FileExists(platform::JoinPath(dir, config::kConfigFileName))) {
    return CheckIn(dir, out);
  }
  std::fprintf(out, "No %s in %s: the first start writes the default file, which gives:\n",
               config::kConfigFileName, dir.c_str());
  platform::ScratchDirectory scratch;
  return CheckIn(scratch.Path(), out);
}

}  // namespace qv
