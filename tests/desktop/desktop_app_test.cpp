// The whole desktop program in-process: start-up on a Server.ini, the main window and the
// settings dialog shown, closing from the window. With QV_SCREENSHOT_DIR set, the pictures of
// both windows and of the whole screen (the README's screenshots, scripts/screenshots) are saved
// there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QTimer>

#include "desktop/app_icon.h"
#include "desktop/desktop_app.h"
#include "support/test_server.h"

namespace qv::desktop {
namespace {

TEST(DesktopApp, RunsAServerShowsItsWindowsAndClosesFromTheMainWindow) {
  test::TempDir dir;
  test::IniConfig config;
  config.port = test::FreePortPair();
  config.groups = {{"127.0.0.2::Anna", "192.168.1.10::Boris"}};
  std::string ini = test::IniText(config);
  // scripts/screenshots takes the Russian pictures with QV_SCREENSHOT_LANGUAGE=1.
  const bool russian = qEnvironmentVariable("QV_SCREENSHOT_LANGUAGE") == QStringLiteral("1");
  if (russian) ini.replace(ini.find("Language=0"), 10, "Language=1");
  test::WriteFile(dir.Path() + "/Server.ini", ini);

  const QString pictures = qEnvironmentVariableIsEmpty("QV_SCREENSHOT_DIR")
                               ? QString::fromStdString(dir.Path())
                               : qEnvironmentVariable("QV_SCREENSHOT_DIR");
  QApplication::setWindowIcon(MakeAppIcon());  // as the program does; the tray shows it
  DesktopApp app(dir.Path());
  app.ScheduleScreenshots(pictures, !qEnvironmentVariableIsEmpty("QV_SCREENSHOT_DIR"));
  // The tray as it stands once the loop runs (none on the offscreen platform).
  bool trayChecked = false;
  QTimer::singleShot(500, &app.Window(), [&] {
    trayChecked = true;
    EXPECT_EQ(app.Tray() != nullptr, TmyAppExt::TrayAvailable());
    // Set by the end-to-end test that runs this one on a display with a tray.
    if (qEnvironmentVariableIsSet("QV_EXPECT_TRAY")) {
      EXPECT_NE(app.Tray(), nullptr);
    }
    if (app.Tray() == nullptr) return;
    EXPECT_EQ(app.Tray()->TrayHint(), QStringLiteral("Quorvane Server"));
    EXPECT_TRUE(app.Tray()->TrayIconActive());
    EXPECT_EQ(app.Tray()->TrayPopup(), &app.Window().PMServer());
  });
  app.Run();  // returns once the scheduled close has shut the server down
  EXPECT_TRUE(trayChecked);

  const QImage main(pictures + "/main-window.png");
  ASSERT_FALSE(main.isNull());
  EXPECT_GT(main.width(), 300);
  EXPECT_GT(main.height(), 200);
  EXPECT_FALSE(QImage(pictures + "/settings-dialog.png").isNull());
  const QString log = app.Window().Logs().toPlainText();
  if (!russian) {
    EXPECT_TRUE(log.contains("Initialization -> Ok!")) << log.toStdString();
    EXPECT_TRUE(log.contains("Start!"));
    EXPECT_EQ(log.contains("No system tray: running without a tray icon."),
              !TmyAppExt::TrayAvailable());
  }
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(dir.Path() + "/POP3/127.0.0.2.bin")));
}

}  // namespace
}  // namespace qv::desktop
