// The main window: log view order and trimming, captions, the Show item, closing; the
// language chooser; the tray component.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <mutex>
#include <stdexcept>

#include "desktop/app_ext.h"
#include "desktop/desktop_front_end.h"
#include "desktop/desktop_texts.h"
#include "desktop/language_dialog.h"
#include "desktop/main_window.h"
#include "desktop/qt_event_loop.h"
#include "platform/text_codec.h"
#include "state/catalogue.h"
#include "state/log.h"

namespace qv::desktop {
namespace {

QStringList Lines(TFormQVServer& window) {
  return window.Logs().toPlainText().split(QChar('\n'));
}

TEST(MainWindow, LogViewShowsNewestFirstAndTrimsByTwenty) {
  TFormQVServer window;
  state::Catalogue catalogue;
  std::recursive_mutex lock;
  state::Log log(catalogue, lock);
  EXPECT_EQ(window.View().LineCount(), 0);
  log.Write("first");
  log.Write("second");
  log.Flush(window.View());
  ASSERT_EQ(window.View().LineCount(), 2);
  EXPECT_TRUE(Lines(window)[0].endsWith(" second"));
  EXPECT_TRUE(Lines(window)[1].endsWith(" first"));

  for (int i = 0; i < 99; ++i) log.Write("line " + std::to_string(i));
  log.Flush(window.View());
  EXPECT_EQ(window.View().LineCount(), 101);
  log.Write("newest");
  log.Flush(window.View());
  // Over 100 lines: the 20 oldest go before the new text comes in on top.
  EXPECT_EQ(window.View().LineCount(), 82);
  EXPECT_TRUE(Lines(window)[0].endsWith(" newest"));
  EXPECT_TRUE(Lines(window).back().endsWith(" line 18"));

  // Russian catalogue texts (Windows-1251 bytes) reach the view as readable text.
  catalogue.Select(state::Language::Russian);
  log.WriteMsg(wire::MsgId::Start);
  log.Flush(window.View());
  const QString shown = Lines(window)[0];
  EXPECT_TRUE(shown.endsWith(
      QString::fromUtf8(platform::Cp1251ToUtf8(catalogue[wire::MsgId::Start]).c_str())));
  EXPECT_FALSE(shown.contains(QChar(0xFFFD)));
  EXPECT_GT(shown.length(), 9);
}

TEST(MainWindow, CaptionsShowItemAndClose) {
  TFormQVServer window;
  QtEventLoop loop;
  DesktopFrontEnd front(window, loop);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvane Server"));
  const double scale = TFormQVServer::ScreenScale(window);
  EXPECT_EQ(window.width(), static_cast<int>(497 * scale));
  EXPECT_EQ(window.height(), static_cast<int>(301 * scale));

  front.SetSettingsCaption("Settings");
  front.SetConnectionsCaption("Connections: 3");
  EXPECT_EQ(window.Button1().text(), QStringLiteral("Settings"));
  EXPECT_EQ(window.Label1().text(), QStringLiteral("Connections: 3"));

  window.show();
  EXPECT_TRUE(window.Show1().isChecked());
  window.Show1().trigger();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.Show1().isChecked());
  window.Show1().trigger();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.Show1().isChecked());

  int settingsClicks = 0;
  int closes = 0;
  window.SetOnSettings([&] { ++settingsClicks; });
  window.SetOnClose([&] { ++closes; });
  window.Button1().click();
  EXPECT_EQ(settingsClicks, 1);
  window.close();
  window.show();
  window.close();
  EXPECT_EQ(closes, 1);
}

TEST(LanguageDialog, EntriesGiveTheirCodes) {
  LanguageDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Main Language"));
  ASSERT_EQ(dialog.List().count(), 10);
  EXPECT_EQ(dialog.Code(), 5);  // "English" preselected
  const std::pair<int, int> expected[] = {{1, 4}, {2, 3}, {3, 9},  {4, 10}, {5, 6},
                                          {6, 8}, {7, 7}, {8, 11}, {9, 5}};
  for (const auto& [row, code] : expected) {
    dialog.List().setCurrentRow(row);
    EXPECT_EQ(dialog.Code(), code) << dialog.List().item(row)->text().toStdString();
  }
  EXPECT_EQ(dialog.List().item(9)->text(), QStringLiteral("Western European"));
  dialog.List().clearSelection();
  EXPECT_EQ(dialog.Code(), 5);  // no selection
  EXPECT_EQ(dialog.width(), 8 + 150 + 13);
  EXPECT_EQ(dialog.height(), 6 + 140 + 20 + 24 + 10);
}

TEST(MainWindow, ConnectionCountNeverWraps) {
  TFormQVServer window;
  window.show();
  EXPECT_FALSE(window.Label1().wordWrap());
  for (const char* caption : {"Connections: 0", "Connections: 123456"}) {
    window.Label1().setText(QString::fromLatin1(caption));
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    EXPECT_GE(window.Label1().width(), window.Label1().sizeHint().width()) << caption;
    EXPECT_LT(window.Label1().height(), 2 * window.Label1().fontMetrics().height()) << caption;
    // At the window's minimum width the log begins right of the count, never over it.
    window.resize(1, window.height());
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    const QWidget& logs = *window.findChild<QWidget*>(QStringLiteral("Logs"));
    const int countRight = window.Label1().mapTo(&window, QPoint(window.Label1().width(), 0)).x();
    EXPECT_LE(countRight, logs.geometry().left()) << caption;
    EXPECT_GE(window.Label1().width(), window.Label1().sizeHint().width()) << caption;
  }
}

TEST(TmyAppExt, OnlyATmyAppExtCountsAsTheDuplicate) {
  // The application object always has children of its own (its event dispatcher, say).
  ASSERT_FALSE(qApp->children().isEmpty());
  {
    TmyAppExt ext(qApp);
    EXPECT_THROW(TmyAppExt second(qApp), std::logic_error);
  }
  TmyAppExt again(qApp);  // the first one is gone
  QObject owner;
  new QObject(&owner);
  auto* timer = new QTimer(&owner);
  EXPECT_NO_THROW(TmyAppExt(&owner).SetTrayHint(QStringLiteral("x")));
  EXPECT_EQ(timer->parent(), &owner);
}

TEST(DesktopTexts, TrayLineFollowsTheCatalogueLanguage) {
  state::Catalogue catalogue;
  EXPECT_EQ(Text(catalogue, DesktopText::NoSystemTray),
            "No system tray: running without a tray icon.");
  catalogue.Select(state::Language::Russian);
  const std::string russian = Text(catalogue, DesktopText::NoSystemTray);
  EXPECT_EQ(platform::Cp1251ToUtf8(russian),
            "Нет области уведомлений: сервер работает без значка в трее.");
  EXPECT_NE(platform::Cp1251ToUtf8(Text(catalogue, DesktopText::EditsDroppedAtStop)),
            "Stop: open dialogs closed, their unsaved changes dropped.");
}

TEST(TmyAppExt, OneInstanceHintPopupAndIcon) {
  QObject owner;
  new QObject(&owner);  // other children are no TmyAppExt
  TmyAppExt ext(&owner);
  try {
    TmyAppExt second(&owner);
    ADD_FAILURE() << "a second instance was created";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Duplicated myAppExt component");
  }
  TmyAppExt elsewhere(nullptr);  // another owner may have its own

  EXPECT_EQ(ext.TrayHint(), QStringLiteral("Tip"));
  ext.SetTrayHint(QString(80, QChar('h')));
  EXPECT_EQ(ext.TrayHint().length(), 63);

  ext.SetTrayIconActive(true);
  ext.SetTrayIconActive(true);
  EXPECT_EQ(ext.TimesAdded(), 1);
  ext.SetTrayIconActive(false);
  ext.SetTrayIconActive(false);
  EXPECT_EQ(ext.TimesRemoved(), 1);

  auto* menu = new QMenu;
  ext.SetTrayPopup(menu);
  EXPECT_EQ(ext.TrayPopup(), menu);
  delete menu;
  EXPECT_EQ(ext.TrayPopup(), nullptr);

  int defaults = 0;
  ext.SetOnTrayDefault([&](TmyAppExt& sender) {
    EXPECT_EQ(&sender, &ext);
    ++defaults;
  });
  ext.HandleActivation(QSystemTrayIcon::Trigger);
  ext.HandleActivation(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(defaults, 1);
}

}  // namespace
}  // namespace qv::desktop
