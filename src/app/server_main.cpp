// quorvane-server: the server with its window, settings dialog and tray icon (Qt 6 Widgets).
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "desktop/app_icon.h"
#include "desktop/desktop_app.h"
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
  try {
    qv::platform::SingleInstance instance(qv::platform::ServerInstanceName());
    if (!instance.Acquired()) {
      QMessageBox::warning(nullptr, QStringLiteral("Warning!"),
                           QStringLiteral("Program is already running."), QMessageBox::Ok);
      return 1;
    }
    // The window may be hidden to the tray; the program ends only when it is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qv::desktop::MakeAppIcon());
    qv::desktop::DesktopApp desktop(qv::platform::ExecutableDirectory());
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
