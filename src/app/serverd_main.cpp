// quorvane-serverd: the server without a window. Log lines go to standard output; SIGINT and
// SIGTERM close it as closing the main window would, SIGHUP re-opens debug.log. Under systemd it
// reports readiness, its connection count and its stop (Type=notify).
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/check_config.h"
#include "core/command_line.h"
#include "core/daemon_signals.h"
#include "core/process_entry.h"
#include "core/server_location.h"
#include "core/service_front_end.h"
#include "feed/feed_server.h"
#include "platform/poll_loop.h"
#include "platform/service_notify.h"
#include "platform/signals.h"

namespace {

// An error on standard error; under systemd (the journal on stderr) marked as an error.
void PrintError(const std::string& text) {
  const char* priority = qv::platform::IsJournalStream(STDERR_FILENO) ? "<3>" : "";
  std::fprintf(stderr, "%s%s\n", priority, text.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const qv::core::CommandLine options =
      qv::core::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true);
  if (!options.error.empty()) {
    std::fprintf(stderr, "quorvane-serverd: %s\nTry 'quorvane-serverd --help'.\n",
                 options.error.c_str());
    return qv::core::kUsageExitStatus;
  }
  if (options.action == qv::core::CommandLine::Action::Help) {
    std::fputs(qv::core::UsageText(true).c_str(), stdout);
    return 0;
  }
  if (options.action == qv::core::CommandLine::Action::Version) {
    std::fputs(qv::core::VersionText(true).c_str(), stdout);
    return 0;
  }
  try {
    if (options.action == qv::core::CommandLine::Action::Check) {
      // Reads only: a missing --dir is not created.
      const std::string dir =
          options.dir.empty() ? qv::platform::ExecutableDirectory() : options.dir;
      return qv::core::CheckConfiguration(dir, options.config, stdout) ? 0 : 1;
    }
    const int signalFd = qv::platform::OpenTerminationSignals(true);
    const qv::core::ServerLocation location = qv::core::ResolveServerLocation(options.dir);
    qv::core::InstanceClaim instance(location);
    if (!instance.Acquired()) {
      PrintError("Program is already running.");
      return 1;
    }
    qv::platform::PollLoop loop;
    qv::core::ServiceFrontEnd front(stdout, qv::platform::IsJournalStream(STDOUT_FILENO));
    qv::core::ServerProcess process(location.dir, loop, front);
    process.server().setup.configFile = options.config;
    loop.Watch(signalFd, qv::platform::EventLoop::kReadable, [&](uint32_t) {
      const int signalNumber = qv::platform::ReadSignal(signalFd);
      if (signalNumber == 0) return;
      const bool stop = qv::core::HandleDaemonSignal(process.server(), signalNumber);
      process.server().runtime.log.Flush(front.View());
      if (stop) loop.Quit();
    });
    // Start-up has printed its last line and the listener is open when Start returns.
    process.Start();
    qv::feed::FeedServer feed(process.server(), process.members());
    feed.Start();
    qv::platform::NotifyServiceManager("READY=1");
    loop.Run();
    qv::platform::NotifyServiceManager("STOPPING=1");
    feed.Stop();
    process.Shutdown();
    ::close(signalFd);
    return 0;
  } catch (const std::exception& e) {
    PrintError(std::string("quorvane-serverd: ") + e.what());
    return 2;
  }
}
