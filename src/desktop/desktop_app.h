#pragma once
// The desktop program once it holds the single-instance name: the Qt event loop, the main
// window, the server process, the settings dialog (one at a time) and the tray icon.
#include <QPointer>
#include <QString>
#include <memory>
#include <string>

#include "core/process_entry.h"
#include "desktop/app_ext.h"
#include "desktop/desktop_front_end.h"
#include "desktop/dialog_services.h"
#include "desktop/main_window.h"
#include "desktop/qt_event_loop.h"
#include "desktop/settings_dialog.h"

namespace qv::desktop {

class DesktopApp {
 public:
  explicit DesktopApp(std::string exeDir);
  ~DesktopApp();

  // Start-up, listener, tray, the event loop until the main window closes, shutdown.
  void Run();
  // SIGINT and SIGTERM (a signalfd) close the main window, which shuts the server down.
  void CloseOnSignals(int signalFd);
  // Saves pictures of the main window and the settings dialog into dir, then closes (the
  // desktop test uses it; it also makes the README's screenshots).
  void ScheduleScreenshots(const QString& dir);

  TFormQVServer& Window() { return window_; }
  TFormSerSet* Settings() { return settings_; }
  void OpenSettings();

 private:
  void SetUpTray();
  void CloseWindow();

  QtEventLoop loop_;
  TFormQVServer window_;
  DesktopFrontEnd front_;
  ServerProcess process_;
  QtDialogServices services_;
  QPointer<TFormSerSet> settings_;
  std::unique_ptr<TmyAppExt> tray_;
};

}  // namespace qv::desktop
