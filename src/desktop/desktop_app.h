#pragma once
// The desktop program once it holds the single-instance name: the Qt event loop, the main
// window, the server process, the settings dialog (one at a time) and the tray icon.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <string>

#include "core/process_entry.h"
#include "desktop/app_ext.h"
#include "desktop/desktop_front_end.h"
#include "desktop/dialog_services.h"
#include "desktop/main_window.h"
#include "desktop/qt_event_loop.h"
#include "desktop/settings_dialog.h"
#include "feed/feed_server.h"

namespace qv::desktop {

class DesktopApp {
 public:
  explicit DesktopApp(std::string exeDir);
  ~DesktopApp();

  // Start-up, listener, tray, the event loop until the main window closes, shutdown.
  void Run();
  // SIGINT and SIGTERM (a signalfd) stop the program (Stop).
  void CloseOnSignals(int signalFd);
  // The end of the desktop session (the session manager's quit request) stops it too.
  void CloseOnSessionEnd();
  // A stop from outside (signal, logout), callable from within any dialog or box: every dialog
  // and box closes without a question, unsaved edits are dropped (logged once), then the main
  // window closes and the server shuts down as usual. Nothing is deleted before the loops
  // that run it have returned.
  void Stop();
  // Saves pictures of the main window and the settings dialog into dir, then closes (the
  // desktop test uses it; it also makes the README's screenshots). With wholeScreen, a picture
  // of the whole screen with the main window and the tray is saved as well (desktop.png), and
  // one with the settings dialog open (desktop-settings.png).
  void ScheduleScreenshots(const QString& dir, bool wholeScreen = false);

  TFormQVServer& Window() { return window_; }
  TFormSerSet* Settings() { return settings_; }
  TmyAppExt* Tray() { return tray_.get(); }
  state::Server& server() { return process_.server(); }
  void OpenSettings();

 private:
  void SetUpTray();
  void CreateTray();
  void CloseWindow();

  QtEventLoop loop_;
  TFormQVServer window_;
  DesktopFrontEnd front_;
  core::ServerProcess process_;
  feed::FeedServer feed_{process_.server()};  // stopped before the process shuts down
  QtDialogServices services_;
  QPointer<TFormSerSet> settings_;
  std::unique_ptr<TmyAppExt> tray_;
  std::unique_ptr<QTimer> trayWatch_;  // runs while there is no tray
  std::unique_ptr<QObject> sessionEndFilter_;
  std::unique_ptr<QTranslator> qtTranslator_;
  bool started_ = false;      // start-up is over, the main window is up
  bool stopping_ = false;     // Stop ran
  bool stopPending_ = false;  // Stop ran during start-up: close once it is over
};

}  // namespace qv::desktop
