// quorvane-server: the server with its window, settings dialog and tray icon (Qt 6 Widgets).
#include <QApplication>
#include <cstdio>
#include <exception>

#include "desktop/desktop_program.h"
#include "platform/signals.h"
#include "platform/single_instance.h"

int main(int argc, char** argv) {
  // Before any thread (Qt's included) starts: the signals are blocked process-wide.
  int signalFd = -1;
  try {
    signalFd = qv::platform::OpenTerminationSignals();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-server: %s\n", e.what());
  }
  QApplication app(argc, argv);
  return qv::desktop::RunDesktopProgram(signalFd, qv::platform::ExecutableDirectory());
}
