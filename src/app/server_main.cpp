// quorvane-server: the server with its window, settings dialog and tray icon (Qt 6 Widgets).
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/server_location.h"
#include "desktop/app_icon.h"
#include "desktop/desktop_app.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  // --help and --version need no display: answered before Qt starts.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V") {
      const bool help = arg == "--help" || arg == "-h";
      std::fputs(help ? qv::UsageText(false).c_str() : qv::VersionText(false).c_str(), stdout);
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
  const qv::CommandLine options =
      qv::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), false);
  if (!options.error.empty()) {
    std::fprintf(stderr, "quorvane-server: %s\nTry 'quorvane-server --help'.\n",
                 options.error.c_str());
    return qv::kUsageExitStatus;
  }
  try {
    const qv::ServerLocation location = qv::ResolveServerLocation(options.dir);
    qv::InstanceClaim instance(location);
    if (!instance.Acquired()) {
      QMessageBox::warning(nullptr, QStringLiteral("Warning!"),
                           QStringLiteral("Program is already running."), QMessageBox::Ok);
      return 1;
    }
    // The window may be hidden to the tray; the program ends only when it is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qv::desktop::MakeAppIcon());
    qv::desktop::DesktopApp desktop(location.dir);
    if (signalFd >= 0) desktop.CloseOnSignals(signalFd);
    desktop.Run();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-server: %s\n", e.what());
    QMessageBox::critical(nullptr, QStringLiteral("Quorvane Server"),
                          QString::fromLocal8Bit(e.what()), QMessageBox::Ok);
    return 2;
  }
}
