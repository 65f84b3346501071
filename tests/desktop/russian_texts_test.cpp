// With Russian chosen, every caption the operator sees in the settings dialog, the DB Structure
// dialog, a Yes/No box and the file chooser is Russian: the test lists the visible texts of
// each window and looks for English words (a few technical terms aside).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDateEdit>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTableWidget>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "desktop/interface_language.h"
#include "desktop/settings_dialog.h"
#include "desktop/structure_dialog.h"
#include "fake_services.h"
#include "wire/day_record.h"

namespace qv::desktop {
namespace {

// Terms the Russian catalogue itself keeps in Latin letters, and protocol names.
const QStringList kAllowed = {"Server", "ini",     "hostname", "Hostname", "IP", "OK",
                              "TCP",    "NoDelay", "HTTP",     "IPv",      "Qt"};

// The captions of the visible widgets of a window: what it says, not the data it holds.
QStringList VisibleTexts(QWidget& window) {
  QStringList texts{window.windowTitle()};
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    if (auto* box = qobject_cast<QGroupBox*>(w)) texts << box->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) texts << edit->placeholderText();
    if (auto* date = qobject_cast<QDateEdit*>(w)) texts << date->text();
    if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    }
    if (auto* table = qobject_cast<QTableWidget*>(w)) {
      for (int c = 0; c < table->columnCount(); ++c)
        texts << table->horizontalHeaderItem(c)->text();
    }
  }
  return texts;
}

QStringList EnglishWords(const QStringList& texts) {
  QStringList found;
  const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
  for (const QString& text : texts) {
    for (auto it = word.globalMatch(text); it.hasNext();) {
      const QString w = it.next().captured();
      if (!kAllowed.contains(w)) found << w + QStringLiteral(" in \"") + text + QChar('"');
    }
  }
  return found;
}

class RussianTextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-russian-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    catalogue_.Select(state::Language::Russian);
    translator_ = UseInterfaceLanguage(state::Language::Russian);
  }
  void TearDown() override {
    translator_.reset();
    QLocale::setDefault(locale_);
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
  state::Catalogue catalogue_;
  FakeServices services_;
  const QLocale locale_;
  std::unique_ptr<QTranslator> translator_;
};

TEST_F(RussianTextsTest, NoEnglishWordInAnyWindow) {
  ASSERT_NE(translator_, nullptr) << "Qt's Russian translation (qt6-translations-l10n)";
  const std::string datafile = dir_ + "/g.qdb";
  {
    std::ofstream out(datafile, std::ios::binary);
    std::vector<char> record(wire::kDayRecordSize, 0);
    for (double date : {46000.0, 46001.0, 46002.0}) {
      std::memcpy(record.data(), &date, sizeof date);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }
  std::ofstream(dir_ + "/Server.ini", std::ios::binary)
      << "[Options]\nApplicationCharset=4\nLanguage=1\n"
         "[NetWork]\nPort=6340\nDirectSend=1\nReconnect=5\nTCPNoDelay=1\n"
         "[DataBases]\nCount=1\nAlias1=G1\n"
         "[DataBase - 1]\nName="
      << datafile
      << "\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
         "Step=0\nUserCount=1\nArchive Link=0\nUser_1=10.0.0.2::U1\n";

  bool live = false;
  TFormSerSet settings(dir_ + "/Server.ini", catalogue_, services_, live);
  settings.show();
  QApplication::processEvents();
  const QStringList settingsTexts = VisibleTexts(settings);
  EXPECT_TRUE(settingsTexts.contains(QStringLiteral("Порт HTTP-ленты:")));
  EXPECT_EQ(EnglishWords(settingsTexts), QStringList()) << settingsTexts.join('|').toStdString();

  TFormBrowser browser(datafile, 0, catalogue_, services_, 46003.0, &settings);
  browser.show();
  QApplication::processEvents();
  const QStringList browserTexts = VisibleTexts(browser);
  EXPECT_EQ(EnglishWords(browserTexts), QStringList()) << browserTexts.join('|').toStdString();
  // Dates follow the Russian locale: "09.12.2025", not "9 Dec 2025".
  EXPECT_TRUE(browser.Label4().text().contains(QChar('.')))
      << browser.Label4().text().toStdString();

  QMessageBox question(QMessageBox::Question, QStringLiteral("Внимание!"),
                       QStringLiteral("Сохранить изменения?"), QMessageBox::Yes | QMessageBox::No,
                       &settings);
  question.show();
  QApplication::processEvents();
  EXPECT_EQ(question.button(QMessageBox::Yes)->text().remove(QChar('&')), QStringLiteral("Да"));
  EXPECT_EQ(EnglishWords(VisibleTexts(question)), QStringList());
  question.close();

  QFileDialog chooser(&settings, QStringLiteral("Файл данных"), QString::fromStdString(dir_),
                      QStringLiteral("( *.qdb )"));
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.show();
  QApplication::processEvents();
  QStringList chooserTexts = VisibleTexts(chooser);
  chooserTexts.removeAll(QStringLiteral("( *.qdb )"));
  EXPECT_EQ(EnglishWords(chooserTexts), QStringList()) << chooserTexts.join('|').toStdString();
  chooser.close();
  browser.close();
  services_.answerYes = false;
  settings.close();
}

}  // namespace
}  // namespace qv::desktop
