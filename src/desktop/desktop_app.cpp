#include "desktop/desktop_app.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include "desktop/text.h"
#include "platform/signals.h"

namespace qv::desktop {

DesktopApp::DesktopApp(std::string exeDir)
    : front_(window_, loop_), process_(std::move(exeDir), loop_, front_) {
  window_.SetOnSettings([this] { OpenSettings(); });
  window_.SetOnClose([this] { CloseWindow(); });
}

DesktopApp::~DesktopApp() {
  delete settings_.data();
  tray_.reset();
}

void DesktopApp::Run() {
  process_.Start();
  SetUpTray();
  window_.show();
  loop_.Run();
  process_.Shutdown();
  tray_.reset();
}

void DesktopApp::SetUpTray() {
  Server& server = process_.server();
  window_.Show1().setText(FromAnsi(server.catalogue[MsgId::ShowButton]));
  if (!TmyAppExt::TrayAvailable()) {
    server.log.Write("No system tray: running without a tray icon.");
    return;
  }
  tray_ = std::make_unique<TmyAppExt>(qApp);
  tray_->SetTrayHint(QStringLiteral("Quorvane Server"));
  tray_->SetTrayIconActive(true);
  tray_->SetTrayPopup(&window_.PMServer());
}

void DesktopApp::OpenSettings() {
  if (settings_) {
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
    return;
  }
  Server& server = process_.server();
  settings_ =
      new TFormSerSet(server.ConfigPath(), server.catalogue, services_, server.settings.TcpNoDelay);
  settings_->setAttribute(Qt::WA_DeleteOnClose);
  settings_->show();
}

void DesktopApp::CloseWindow() {
  // An open settings dialog closes first and may still save its changes.
  if (settings_) settings_->close();
  process_.Close();
  loop_.Quit();
}

void DesktopApp::CloseOnSignals(int signalFd) {
  loop_.Watch(signalFd, platform::EventLoop::kReadable, [this, signalFd](uint32_t) {
    if (platform::ReadSignal(signalFd) != 0) window_.close();
  });
}

void DesktopApp::ScheduleScreenshots(const QString& dir) {
  QTimer::singleShot(1500, &window_, [this, dir] {
    window_.grab().save(QDir(dir).filePath(QStringLiteral("main-window.png")));
    OpenSettings();
    QTimer::singleShot(1000, &window_, [this, dir] {
      if (settings_) {
        settings_->grab().save(QDir(dir).filePath(QStringLiteral("settings-dialog.png")));
        delete settings_.data();  // closed without asking
      }
      window_.close();
    });
  });
}

}  // namespace qv::desktop
