#include "desktop/desktop_program.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdio>
#include <exception>
#include <memory>

#include "desktop/app_icon.h"
#include "platform/signals.h"

namespace qv::desktop {
namespace {

// A box the operator closes, or a SIGINT/SIGTERM closes for them.
void ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text, int signalFd) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  std::unique_ptr<QSocketNotifier> notifier;
  if (signalFd >= 0) {
    notifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &box, [&box, signalFd] {
      if (platform::ReadSignal(signalFd) != 0) box.done(QDialog::Rejected);
    });
  }
  box.exec();
}

}  // namespace

int RunDesktopProgram(int signalFd, const core::ServerLocation& location,
                      const std::function<void(DesktopApp&)>& prepare) {
  try {
    core::InstanceClaim instance(location);
    if (!instance.Acquired()) {
      std::fputs("quorvane-server: Program is already running.\n", stderr);
      ShowBox(QMessageBox::Warning, QStringLiteral("Warning!"),
              QStringLiteral("Program is already running."), signalFd);
      return 1;
    }
    // The window may be hidden to the tray; the program ends only when it is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(MakeAppIcon());
    DesktopApp desktop(location.dir);
    if (signalFd >= 0) desktop.CloseOnSignals(signalFd);
    desktop.CloseOnSessionEnd();
    if (prepare) prepare(desktop);
    desktop.Run();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-server: %s\n", e.what());
    ShowBox(QMessageBox::Critical, QStringLiteral("Quorvane Server"),
            QString::fromLocal8Bit(e.what()), signalFd);
    return 2;
  }
}

}  // namespace qv::desktop
