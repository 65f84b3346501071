// quorvane-server: the server with its window, settings dialog and tray icon (Qt 6 Widgets).
#include <QApplication>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/server_location.h"
#include "desktop/desktop_program.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  // --help and --version need no display: answered before Qt starts.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V") {
      const bool help = arg == "--help" || arg == "-h";
      std::fputs(help ? qv::core::UsageText(false).c_str() : qv::core::VersionText(false).c_str(),
                 stdout);
      return 0;
    }
  }
  // Before any thread (Qt's included) starts: the signals are blocked process-wide.
  int signalFd = -1;
  try {
    signalFd = qv::platform::OpenTerminationSignals();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-server: %s\n", e.what());
  }
  QApplication app(argc, argv);
  // Qt has taken its own options (-platform, -style, …) out of argv.
  const qv::core::CommandLine options =
      qv::core::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), false);
  if (!options.error.empty()) {
    std::fprintf(stderr, "quorvane-server: %s\nTry 'quorvane-server --help'.\n",
                 options.error.c_str());
    return qv::core::kUsageExitStatus;
  }
  qv::core::ServerLocation location;
  try {
    location = qv::core::ResolveServerLocation(options.dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-server: %s\n", e.what());
    return 2;
  }
  return qv::desktop::RunDesktopProgram(signalFd, location);
}
