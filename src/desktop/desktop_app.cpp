#include "desktop/desktop_app.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QScreen>
#include <QTimer>

#include "core/journal_flush.h"
#include "desktop/desktop_texts.h"
#include "desktop/interface_language.h"
#include "desktop/structure_dialog.h"
#include "desktop/text.h"
#include "platform/signals.h"

namespace qv::desktop {
namespace {

constexpr int kTrayPollMs = 500;

// Takes the application's Quit event (sent by the session manager when the desktop session
// ends) and stops the program instead of letting Qt close the windows one by one.
class QuitEventFilter final : public QObject {
 public:
  explicit QuitEventFilter(std::function<void()> onQuit) : onQuit_(std::move(onQuit)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::Quit) {
      onQuit_();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> onQuit_;
};

}  // namespace

DesktopApp::DesktopApp(std::string exeDir)
    : front_(window_, loop_), process_(std::move(exeDir), loop_, front_) {
  window_.SetOnSettings([this] { OpenSettings(); });
  window_.SetOnClose([this] { CloseWindow(); });
}

DesktopApp::~DesktopApp() {
  if (sessionEndFilter_) qApp->removeEventFilter(sessionEndFilter_.get());
  delete settings_.data();
  tray_.reset();
}

void DesktopApp::Run() {
  try {
    process_.Start();
  } catch (const state::StartupAbandoned&) {
    return;  // stopped under the first-run chooser: nothing was written, nothing to shut down
  }
  qtTranslator_ = UseInterfaceLanguage(process_.server().setup.catalogue.Current());
  feed_.Start(process_.members());
  SetUpTray();
  window_.show();
  started_ = true;
  if (stopPending_) window_.close();
  loop_.Run();
  // Every nested loop has returned with the main one: nothing runs a dialog any more.
  delete settings_.data();
  trayWatch_.reset();
  feed_.Stop();
  process_.Shutdown();
  tray_.reset();
}

void DesktopApp::SetUpTray() {
  state::Server& server = process_.server();
  window_.Show1().setText(FromAnsi(server.setup.catalogue[wire::MsgId::ShowButton]));
  if (TmyAppExt::TrayAvailable()) {
    CreateTray();
    return;
  }
  server.runtime.log.Write(Text(server.setup.catalogue, DesktopText::NoSystemTray));
  // A tray started after the program (the usual order when a session autostarts) still gets
  // the icon: the check repeats until one appears.
  trayWatch_ = std::make_unique<QTimer>();
  trayWatch_->setInterval(kTrayPollMs);
  QObject::connect(trayWatch_.get(), &QTimer::timeout, trayWatch_.get(), [this] {
    if (stopping_ || !TmyAppExt::TrayAvailable()) return;
    trayWatch_->stop();
    CreateTray();
    state::Server& s = process_.server();
    s.runtime.log.Write(Text(s.setup.catalogue, DesktopText::TrayAppeared));
  });
  trayWatch_->start();
}

void DesktopApp::CreateTray() {
  tray_ = std::make_unique<TmyAppExt>(qApp);
  tray_->SetTrayHint(QStringLiteral("Quorvane Server"));
  tray_->SetTrayIconActive(true);
  tray_->SetTrayPopup(&window_.PMServer());
}

void DesktopApp::OpenSettings() {
  if (stopping_) return;
  if (settings_) {
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
    return;
  }
  state::Server& server = process_.server();
  settings_ = new TFormSerSet(server.ConfigPath(), server.setup.catalogue, services_,
                              server.setup.settings.TcpNoDelay);
  settings_->SetBeforeRestructure(
      [&server](const std::string& datafile) { core::FlushJournalsOf(server, datafile); });
  settings_->SetLog([&server](const std::string& line) { server.runtime.log.Write(line); });
  settings_->setAttribute(Qt::WA_DeleteOnClose);
  settings_->show();
}

void DesktopApp::CloseWindow() {
  // An open settings dialog closes first and may still save its changes (not when stopping).
  if (settings_) settings_->close();
  process_.Close();
  loop_.Quit();
}

void DesktopApp::Stop() {
  if (stopping_) return;
  stopping_ = true;
  front_.SetStopping();
  services_.Stop();
  bool dropped = false;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    const auto* browser = dynamic_cast<const TFormBrowser*>(widget);
    if (browser != nullptr && browser->isVisible() && browser->HasUnsavedEdits()) dropped = true;
  }
  if (settings_) {
    dropped = dropped || settings_->HasUnsavedEdits();
    settings_->DropEditsOnClose();
    // It may be the one running the box that is open: deleted after the loops have returned.
    settings_->setAttribute(Qt::WA_DeleteOnClose, false);
  }
  CloseModalDialogs();
  if (settings_) settings_->close();
  if (dropped) {
    state::Server& server = process_.server();
    server.runtime.log.Write(Text(server.setup.catalogue, DesktopText::EditsDroppedAtStop));
  }
  if (started_) {
    window_.close();
  } else {
    stopPending_ = true;  // start-up is still running (the language chooser, say)
  }
}

void DesktopApp::CloseOnSignals(int signalFd) {
  loop_.Watch(signalFd, platform::EventLoop::kReadable, [this, signalFd](uint32_t) {
    if (platform::ReadSignal(signalFd) != 0) Stop();
  });
}

void DesktopApp::CloseOnSessionEnd() {
  if (sessionEndFilter_) return;
  sessionEndFilter_ = std::make_unique<QuitEventFilter>([this] { Stop(); });
  qApp->installEventFilter(sessionEndFilter_.get());
}

void DesktopApp::ScheduleScreenshots(const QString& dir, bool wholeScreen) {
  QTimer::singleShot(1500, &window_, [this, dir, wholeScreen] {
    window_.grab().save(QDir(dir).filePath(QStringLiteral("main-window.png")));
    if (wholeScreen && window_.screen() != nullptr) {
      window_.screen()->grabWindow(0).save(QDir(dir).filePath(QStringLiteral("desktop.png")));
    }
    OpenSettings();
    QTimer::singleShot(1000, &window_, [this, dir, wholeScreen] {
      if (settings_) {
        settings_->grab().save(QDir(dir).filePath(QStringLiteral("settings-dialog.png")));
        if (wholeScreen && settings_->screen() != nullptr) {
          settings_->screen()->grabWindow(0).save(
              QDir(dir).filePath(QStringLiteral("desktop-settings.png")));
        }
        delete settings_.data();  // closed without asking
      }
      window_.close();
    });
  });
}

}  // namespace qv::desktop
