// The settings dialog driven through its widgets; the resulting Server.ini is checked.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "config/ini_store.h"
#include "desktop/settings_dialog.h"
#include "desktop/structure_dialog.h"
#include "fake_services.h"
#include "state/catalogue.h"
#include "wire/day_record.h"

namespace qv::desktop {
namespace {

constexpr char kThreeGroups[] =
    "[Options]\nApplicationCharset=5\nLanguage=0\n"
    "[NetWork]\nPort=6340\nDirectSend=1\nReconnect=5\nTCPNoDelay=1\nCheckInterval_ms=15000\n"
    "[DataBases]\nCount=3\nAlias1=Alpha\nAlias2=Beta\nAlias3=Gamma\n"
    "[DataBase - 1]\nName=\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
    "Step=0\nUserCount=2\nArchive Link=0\nUser_1=pc7::Anna\nUser_2=10.0.0.2::Boris\n"
    "[DataBase - 2]\nName=\nCount=7\nCountArc=0\nTime Begin=9\nTime End=20\n"
    "Step=0\nUserCount=1\nArchive Link=0\nUser_1=pc9::Clara\n"
    "[DataBase - 3]\nName=\nCount=30\nCountArc=100\nTime Begin=8\nTime End=18\n"
    "Step=1\nUserCount=0\nArchive Link=1\n";

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-dialog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ini_ = dir_ + "/Server.ini";
    Write(kThreeGroups);
  }
  void TearDown() override {
    dialog_.reset();
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }
  std::string FileText() const {
    std::ifstream in(ini_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Value(const std::string& section, const std::string& key) const {
    return config::IniStore(ini_).ReadString(section, key);
  }
  bool Has(const std::string& section, const std::string& key) const {
    return config::IniStore(ini_).ReadSection(section).Has(key);
  }

  TFormSerSet& Open() {
    dialog_ = std::make_unique<TFormSerSet>(ini_, catalogue_, services_, liveNoDelay_);
    dialog_->show();
    QApplication::processEvents();
    return *dialog_;
  }
  template <typename T>
  T& W(const char* name) {
    T* widget = dialog_->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return *widget;
  }
  void SelectGroup(int index) {
    auto& combo = W<QComboBox>("ComboBox1");
    combo.setCurrentIndex(index);
    emit combo.activated(index);
  }
  // Replaces a field's text by typing, as the operator would.
  void Retype(const char* name, const QString& text) {
    auto& edit = W<QLineEdit>(name);
    QTest::keyClick(&edit, Qt::Key_End);
    while (!edit.text().isEmpty()) QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, text);
  }
  void AddUser(const QString& name, const QString& host) {
    Retype("Edit2", name);
    Retype("Edit9", host);
    W<QPushButton>("Button4").click();
  }
  void Close() {
    dialog_->close();
    QApplication::processEvents();
  }

  std::string dir_, ini_;
  state::Catalogue catalogue_;
  FakeServices services_;
  bool liveNoDelay_ = false;
  std::unique_ptr<TFormSerSet> dialog_;
};

TEST_F(SettingsDialogTest, NothingAskedOrWrittenWithoutAChange) {
  Open();
  EXPECT_TRUE(liveNoDelay_);  // set from TCPNoDelay on opening
  EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("Server Settings"));
  EXPECT_EQ(W<QComboBox>("ComboBox1").count(), 3);
  EXPECT_EQ(W<QLineEdit>("Edit4").text(), QStringLiteral("7"));
  EXPECT_EQ(W<QTableWidget>("SGUsers").rowCount(), 2);
  EXPECT_EQ(W<QLabel>("lbPort2").text(), QStringLiteral("port 2"));
  SelectGroup(1);  // the same field values as group 1
  EXPECT_EQ(W<QTableWidget>("SGUsers").item(0, 0)->text(), QStringLiteral("Clara"));
  Close();
  EXPECT_TRUE(services_.questions.empty());
  EXPECT_TRUE(services_.warnings.empty());
  EXPECT_EQ(FileText(), kThreeGroups);

  // Selecting a group whose fields differ counts as an edit; answering No writes nothing.
  Open();
  SelectGroup(2);
  EXPECT_EQ(W<QLineEdit>("Edit4").text(), QStringLiteral("30"));
  services_.answerYes = false;
  Close();
  ASSERT_EQ(services_.questions.size(), 1u);
  EXPECT_EQ(services_.questions[0].caption, QStringLiteral("Warning!"));
  EXPECT_EQ(services_.questions[0].text, QStringLiteral("Save Changes?"));
  EXPECT_EQ(FileText(), kThreeGroups);
}

TEST_F(SettingsDialogTest, DuplicateUserNameAndHostAreRefusedExactly) {
  Open();
  SelectGroup(1);
  auto& grid = W<QTableWidget>("SGUsers");
  AddUser("Anna", "pc11");
  ASSERT_EQ(services_.warnings.size(), 1u);
  EXPECT_EQ(services_.warnings[0].caption, QStringLiteral("Warning!"));
  EXPECT_EQ(services_.warnings[0].text, QStringLiteral("This user already exists!"));
  AddUser("Dora", "pc7");
  ASSERT_EQ(services_.warnings.size(), 2u);
  EXPECT_EQ(services_.warnings[1].text,
            QStringLiteral("This address (or hostname) already exists!"));
  EXPECT_EQ(grid.rowCount(), 1);
  AddUser("anna", "PC7");  // the checks are exact
  EXPECT_EQ(services_.warnings.size(), 2u);
  ASSERT_EQ(grid.rowCount(), 2);
  EXPECT_EQ(grid.item(1, 0)->text(), QStringLiteral("anna"));
  services_.answerYes = true;
  Close();
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "2");
  EXPECT_EQ(Value("DataBase - 2", "User_2"), "PC7::anna");
  ASSERT_EQ(services_.warnings.size(), 3u);
  EXPECT_EQ(services_.warnings[2].text,
            QStringLiteral("The changes will be activated after restarting the server."));
}

TEST_F(SettingsDialogTest, DottedAddressIsNormalisedAndFieldsRefuseColons) {
  Open();
  Retype("Edit2", "Fr:ed");
  EXPECT_EQ(W<QLineEdit>("Edit2").text(), QStringLiteral("Fred"));
  EXPECT_EQ(services_.beeps, 1);
  Retype("Edit9", "010.000.100.005");
  W<QPushButton>("Button4").click();
  EXPECT_EQ(W<QLineEdit>("Edit9").text(), QStringLiteral("10.0.100.5"));
  EXPECT_EQ(W<QTableWidget>("SGUsers").item(2, 1)->text(), QStringLiteral("10.0.100.5"));
  Close();
  EXPECT_EQ(Value("DataBase - 1", "User_3"), "10.0.100.5::Fred");
  EXPECT_EQ(Value("DataBase - 1", "UserCount"), "3");
}

TEST_F(SettingsDialogTest, RemovingGroupTwoOfThree) {
  Open();
  SelectGroup(1);
  W<QPushButton>("Button2").click();
  EXPECT_EQ(W<QComboBox>("ComboBox1").count(), 2);
  EXPECT_EQ(W<QComboBox>("ComboBox1").currentText(), QStringLiteral("Alpha"));
  Close();
  EXPECT_EQ(Value("DataBases", "Count"), "2");
  EXPECT_EQ(Value("DataBases", "Alias1"), "Alpha");
  EXPECT_EQ(Value("DataBases", "Alias2"), "Gamma");
  EXPECT_FALSE(Has("DataBases", "Alias3"));
  EXPECT_TRUE(config::IniStore(ini_).ReadSection("DataBase - 3").Entries().empty());
  EXPECT_EQ(FileText().find("[DataBase - 3]"), std::string::npos);
  EXPECT_EQ(Value("DataBase - 2", "Count"), "30");
  EXPECT_EQ(Value("DataBase - 2", "Archive Link"), "1");
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "0");
  EXPECT_EQ(Value("DataBase - 1", "User_1"), "pc7::Anna");
}

TEST_F(SettingsDialogTest, RemovingTheLastUser) {
  Open();
  SelectGroup(1);
  auto& grid = W<QTableWidget>("SGUsers");
  grid.setCurrentCell(0, 0);
  W<QPushButton>("Button5").click();
  ASSERT_EQ(grid.rowCount(), 1);
  EXPECT_TRUE(grid.item(0, 0)->text().isEmpty());
  Close();
  EXPECT_EQ(Value("DataBase - 2", "UserCount"), "0");
  EXPECT_FALSE(Has("DataBase - 2", "User_1"));
}

TEST_F(SettingsDialogTest, DigitFieldsPortLabelAndTimeBeginOfThreeDigits) {
  Open();
  // An hour takes two digits at most: the third is not taken.
  Retype("Edit5", "1a23");
  EXPECT_EQ(W<QLineEdit>("Edit5").text(), QStringLiteral("12"));
  EXPECT_EQ(services_.beeps, 1);
  Retype("Edit17", "70x00");
  EXPECT_EQ(services_.beeps, 2);
  EXPECT_EQ(W<QLabel>("lbPort2").text(), QStringLiteral(",7010"));
  W<QListWidget>("ListBox1").setCurrentRow(2);
  Close();
  EXPECT_EQ(Value("DataBase - 1", "Time Begin"), "12");
  EXPECT_EQ(Value("DataBase - 1", "Step"), "2");
  EXPECT_EQ(Value("NetWork", "Port"), "7000");
  EXPECT_EQ(Value("NetWork", "Reconnect"), "5");
}

// Paste and drop pass the same validator as typing; what the next start would refuse is not
// saved, the dialog says why and stays open.
TEST_F(SettingsDialogTest, PasteNeverEntersNumberFieldsAndBadPortsAreNotSaved) {
  std::string text = kThreeGroups;
  text.replace(text.find("Port=6340"), 9, "Port=99999");
  Write(text);
  Open();
  auto& countArc = W<QLineEdit>("Edit7");
  for (const char* refused : {"127.0.0.4", "abc", "-5", "1 2", "99999999"}) {
    countArc.selectAll();
    QApplication::clipboard()->setText(QString::fromLatin1(refused));
    countArc.paste();
    EXPECT_EQ(countArc.text(), QStringLiteral("0")) << refused;
    countArc.selectAll();
    countArc.insert(QString::fromLatin1(refused));  // what a drop does
    EXPECT_EQ(countArc.text(), QStringLiteral("0")) << refused;
  }
  countArc.selectAll();
  QApplication::clipboard()->setText(QStringLiteral("365"));
  countArc.paste();
  EXPECT_EQ(countArc.text(), QStringLiteral("365"));
  // A port above 65525 cannot be typed either (its second port would pass 65535).
  Retype("Edit17", "65526");
  EXPECT_EQ(W<QLineEdit>("Edit17").text(), QStringLiteral("6552"));
  W<QLineEdit>("Edit17").setText(QStringLiteral("99999"));  // as the file had it
  emit W<QLineEdit>("Edit17").textEdited(QStringLiteral("99999"));

  Close();
  ASSERT_EQ(services_.errors.size(), 1u);
  EXPECT_EQ(services_.errors[0].caption, QStringLiteral("Not saved"));
  EXPECT_EQ(
      services_.errors[0].text,
      QStringLiteral("Port must be a number from 1 to 65525: the server also uses port + 10."));
  EXPECT_EQ(FileText(), text) << "nothing written";
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_TRUE(W<QLineEdit>("Edit17").hasFocus() || !QApplication::focusWidget());

  Retype("Edit17", "");  // an empty port stops the next start as well
  Close();
  EXPECT_EQ(services_.errors.size(), 2u);
  EXPECT_EQ(FileText(), text);

  // A bad count in another group is named with its group, which is then shown.
  Retype("Edit17", "7000");
  SelectGroup(2);
  Retype("Edit4", "");
  SelectGroup(0);
  Close();
  ASSERT_EQ(services_.errors.size(), 3u);
  EXPECT_TRUE(services_.errors[2].text.startsWith(QStringLiteral("Group \"Gamma\"")))
      << services_.errors[2].text.toStdString();
  EXPECT_EQ(W<QComboBox>("ComboBox1").currentIndex(), 2);
  Retype("Edit4", "30");
  Close();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(Value("NetWork", "Port"), "7000");
  EXPECT_EQ(Value("DataBase - 1", "CountArc"), "365");
}

// Forward Tab from the first control reaches every control once, in reading order, and comes
// back; in the users grid Tab leaves it and Ctrl+Tab moves between its cells.
TEST_F(SettingsDialogTest, TabReachesEveryControlOnceAndLeavesTheGrid) {
  TFormSerSet& dialog = Open();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 2000));
  QStringList expected;
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&dialog) && w->isEnabled())
      expected << w->objectName();
  }
  auto& first = W<QPushButton>("Button2");
  first.setFocus();
  ASSERT_TRUE(first.hasFocus());
  QStringList visited{first.objectName()};
  for (int i = 0; i < 60; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    if (QApplication::focusWidget() == &first) break;
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(QApplication::focusWidget(), &first) << "Tab came back to the first control";
  QStringList sortedVisited = visited, sortedExpected = expected;
  sortedVisited.sort();
  sortedExpected.sort();
  EXPECT_EQ(sortedVisited, sortedExpected) << visited.join(' ').toStdString();
  EXPECT_TRUE(visited.indexOf("ListBox2") < visited.indexOf("SGUsers"));
  EXPECT_TRUE(visited.indexOf("SGUsers") < visited.indexOf("Edit17"));
  EXPECT_TRUE(visited.indexOf("Edit17") < visited.indexOf("EditFeedAddress"));

  auto& grid = W<QTableWidget>("SGUsers");
  grid.setFocus();
  grid.setCurrentCell(0, 0);
  QTest::keyClick(&grid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_TRUE(grid.hasFocus());
  EXPECT_EQ(grid.currentColumn(), 1);
  QTest::keyClick(&grid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(grid.currentRow(), 1);
  EXPECT_EQ(grid.currentColumn(), 0);
  QTest::keyClick(&grid, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), &W<QLineEdit>("Edit17"));
  EXPECT_EQ(services_.beeps, 0);
  services_.answerYes = false;
  Close();
}

// A long group name is elided in the list (whole in its tool tip): the dialog keeps its width.
TEST_F(SettingsDialogTest, LongGroupNameKeepsTheDialogOnTheScreen) {
  const int normalWidth = Open().width();
  dialog_.reset();
  const std::string longName(278, 'W');
  std::string text = kThreeGroups;
  text.replace(text.find("Alias1=Alpha"), 12, "Alias1=" + longName);
  Write(text);
  TFormSerSet& dialog = Open();
  EXPECT_EQ(dialog.width(), normalWidth);
  EXPECT_LE(dialog.width(), 1280);
  EXPECT_EQ(W<QComboBox>("ComboBox1").toolTip(), QString::fromStdString(longName));
}

// Run once more with QT_SCALE_FACTOR=1.5 (144 dpi): the dialog, with a title bar of 30 pixels,
// fits a 1280x800 screen in either language.
TEST_F(SettingsDialogTest, FitsA1280x800Screen) {
  for (const state::Language language : {state::Language::English, state::Language::Russian}) {
    catalogue_.Select(language);
    TFormSerSet& dialog = Open();
    const double ratio = dialog.devicePixelRatioF();
    const QSize pixels = dialog.size() * ratio;
    std::cout << "settings dialog " << dialog.width() << "x" << dialog.height() << " at ratio "
              << ratio << ": " << pixels.width() << "x" << pixels.height() << " pixels\n";
    EXPECT_LE(pixels.width(), 1280);
    EXPECT_LE(pixels.height() + static_cast<int>(30 * ratio), 800);
    dialog_.reset();
  }
}

TEST_F(SettingsDialogTest, DatafileChoiceAppendsQdb) {
  Open();
  EXPECT_FALSE(W<QPushButton>("Button6").isEnabled());
  services_.chosenFile = QString::fromStdString(dir_ + "/newgroup");
  W<QPushButton>("Button3").click();
  const std::string created = dir_ + "/newgroup.qdb";
  EXPECT_TRUE(std::filesystem::exists(created));
  EXPECT_EQ(std::filesystem::file_size(created), 0u);
  EXPECT_EQ(W<QLineEdit>("Edit3").text().toStdString(), ".." + created.substr(created.size() - 20));
  EXPECT_TRUE(W<QPushButton>("Button6").isEnabled());

  std::ofstream(dir_ + "/kept.dat") << "x";
  SelectGroup(1);
  services_.chosenFile = QString::fromStdString(dir_ + "/kept.dat");
  W<QPushButton>("Button3").click();
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/kept.dat"), 1u);
  Close();
  EXPECT_EQ(Value("DataBase - 1", "Name"), created);
  EXPECT_EQ(Value("DataBase - 2", "Name"), dir_ + "/kept.dat");
}

TEST_F(SettingsDialogTest, FailedLoadShowsMessage46AndSavesNothing) {
  std::string text = kThreeGroups;
  text.replace(text.find("UserCount=1"), 11, "UserCount=?");
  Write(text);
  Open();
  QApplication::processEvents();
  ASSERT_EQ(services_.errors.size(), 1u);
  EXPECT_EQ(services_.errors[0].caption, QStringLiteral("Error!"));
  EXPECT_EQ(services_.errors[0].text, QStringLiteral("Error loading an INI-file"));
  EXPECT_EQ(W<QComboBox>("ComboBox1").count(), 3);
  EXPECT_EQ(W<QComboBox>("ComboBox1").currentIndex(), -1);
  EXPECT_FALSE(W<QFrame>("Panel1").isVisible());
  Retype("Edit17", "1");
  Close();
  EXPECT_TRUE(services_.questions.empty());
  EXPECT_EQ(FileText(), text);
}

TEST_F(SettingsDialogTest, StructureOpensForTheGroupDatafile) {
  const std::string datafile = dir_ + "/g.qdb";
  {
    std::ofstream out(datafile, std::ios::binary);
    std::vector<char> record(wire::kDayRecordSize, 0);
    for (int day = 0; day < 3; ++day) {
      const double date = 46000 + day;
      std::memcpy(record.data(), &date, sizeof date);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }
  std::string text = kThreeGroups;
  text.replace(text.find("CountArc=100"), 12, "CountArc=2");
  text.replace(text.find("Name=\nCount=30"), 5, "Name=" + datafile);
  Write(text);
  Open();
  SelectGroup(2);
  ASSERT_TRUE(W<QPushButton>("Button6").isEnabled());
  int maxArchiveShown = -1;
  services_.onModal = [&](QDialog& dialog) {
    auto& browser = dynamic_cast<TFormBrowser&>(dialog);
    EXPECT_EQ(browser.Info().DataCount, 3);
    maxArchiveShown = browser.findChild<QLabel*>("Label8")->text().section(' ', -1).toInt();
  };
  W<QPushButton>("Button6").click();
  EXPECT_EQ(services_.modalRuns, 1);
  EXPECT_EQ(maxArchiveShown, 2);
}

}  // namespace
}  // namespace qv::desktop

namespace qv::desktop {
namespace {

constexpr char kNoGroups[] =
    "[Options]\nApplicationCharset=5\nLanguage=0\n"
    "[NetWork]\nPort=6340\nDirectSend=1\nReconnect=5\nTCPNoDelay=1\nCheckInterval_ms=15000\n"
    "[DataBases]\nCount=0\n";

const char* const kDigitFields[] = {"Edit4", "Edit7", "Edit5", "Edit6", "Edit17"};

TEST_F(SettingsDialogTest, EnterInAnyLineEditRemovesNoGroup) {
  Open();
  auto& groups = W<QComboBox>("ComboBox1");
  const auto edits = dialog_->findChildren<QLineEdit*>();
  ASSERT_GE(edits.size(), 9);
  for (QLineEdit* edit : edits) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(edit, key);
      EXPECT_EQ(groups.count(), 3) << edit->objectName().toStdString();
    }
  }
  for (QPushButton* button : dialog_->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
  }
  QTest::keyClick(dialog_.get(), Qt::Key_Return);
  EXPECT_EQ(groups.count(), 3);
  EXPECT_TRUE(dialog_->isVisible());

  // In the new-group field Enter adds the group typed there, as "+" does.
  QTest::keyClicks(&W<QLineEdit>("Edit1"), "Delta");
  QTest::keyClick(&W<QLineEdit>("Edit1"), Qt::Key_Return);
  ASSERT_EQ(groups.count(), 4);
  EXPECT_EQ(groups.currentText(), QStringLiteral("Delta"));
  QTest::keyClick(&W<QLineEdit>("Edit1"), Qt::Key_Return);  // "+" is disabled again
  EXPECT_EQ(groups.count(), 4);
  services_.answerYes = false;
  Close();
  EXPECT_EQ(FileText(), kThreeGroups);
}

TEST_F(SettingsDialogTest, EscapeTakesTheClosePath) {
  Open();
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);  // nothing changed: nothing asked
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_TRUE(services_.questions.empty());

  Open();
  Retype("Edit17", "7000");
  services_.answerYes = true;
  QTest::keyClick(&W<QLineEdit>("Edit17"), Qt::Key_Escape);
  EXPECT_FALSE(dialog_->isVisible());
  ASSERT_EQ(services_.questions.size(), 1u);
  EXPECT_EQ(services_.questions[0].text, QStringLiteral("Save Changes?"));
  EXPECT_EQ(Value("NetWork", "Port"), "7000");

  // A dialog closed with Escape and deleted on close really goes (it is not merely hidden).
  Open();
  QPointer<TFormSerSet> owned = dialog_.release();
  owned->setAttribute(Qt::WA_DeleteOnClose);
  QTest::keyClick(owned.data(), Qt::Key_Escape);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(owned.isNull());
}

TEST_F(SettingsDialogTest, NavigationAndShortcutsPassTheDigitFilter) {
  TFormSerSet& dialog = Open();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 2000));
  for (const char* name : kDigitFields) {
    auto& edit = W<QLineEdit>(name);
    edit.setFocus();
    ASSERT_TRUE(edit.hasFocus()) << name;
    const QString before = edit.text();
    QTest::keyClick(&edit, Qt::Key_Tab);
    EXPECT_FALSE(edit.hasFocus()) << name;
    EXPECT_EQ(edit.text(), before) << name;
    edit.setFocus();
    QTest::keyClick(&edit, Qt::Key_Backtab);
    EXPECT_FALSE(edit.hasFocus()) << name;
    EXPECT_EQ(edit.text(), before) << name;
  }
  EXPECT_EQ(services_.beeps, 0);

  // Select all and retype replaces the text; arrows, Home, Delete edit as usual.
  auto& port = W<QLineEdit>("Edit17");
  port.setFocus();
  QTest::keyClick(&port, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(&port, "7000");
  EXPECT_EQ(port.text(), QStringLiteral("7000"));
  QTest::keyClick(&port, Qt::Key_Home);
  QTest::keyClick(&port, Qt::Key_Delete);
  QTest::keyClick(&port, Qt::Key_Right);
  QTest::keyClick(&port, Qt::Key_Backspace);
  QTest::keyClicks(&port, "9");
  EXPECT_EQ(port.text(), QStringLiteral("900"));
  EXPECT_EQ(W<QLabel>("lbPort2").text(), QStringLiteral(",910"));
  QTest::keyClicks(&port, "x:");  // characters other than digits are still refused
  EXPECT_EQ(port.text(), QStringLiteral("900"));
  EXPECT_EQ(services_.beeps, 2);
  services_.answerYes = false;
  Close();
}

TEST_F(SettingsDialogTest, GroupAddedToADialogOpenedWithoutOneHasFullHeightFields) {
  Open();
  const int normalHeight = W<QLineEdit>("Edit4").height();
  const int normalList = W<QListWidget>("ListBox1").height();
  ASSERT_GE(normalHeight, W<QLineEdit>("Edit4").minimumSizeHint().height());
  services_.answerYes = false;
  Close();

  Write(kNoGroups);
  Open();
  EXPECT_FALSE(W<QFrame>("Panel1").isVisible());
  // No group: the user area takes no users (they would belong to no group).
  EXPECT_FALSE(W<QPushButton>("Button4").isEnabled());
  EXPECT_FALSE(W<QLineEdit>("Edit2").isEnabled());
  QTest::keyClicks(&W<QLineEdit>("Edit1"), "First");
  W<QPushButton>("Button1").click();
  QApplication::processEvents();
  ASSERT_TRUE(W<QFrame>("Panel1").isVisible());
  EXPECT_TRUE(W<QPushButton>("Button4").isEnabled());
  for (const char* name : kDigitFields) {
    EXPECT_EQ(W<QLineEdit>(name).height(), normalHeight) << name;
  }
  EXPECT_EQ(W<QListWidget>("ListBox1").height(), normalList);
  AddUser("Erik", "pc20");
  services_.answerYes = true;
  Close();
  EXPECT_EQ(Value("DataBase - 1", "User_1"), "pc20::Erik");
}

TEST_F(SettingsDialogTest, AfterAFailedLoadUsersCannotBeAddedAndTheFilterReadsOnce) {
  std::string text = kThreeGroups;
  text.replace(text.find("UserCount=1"), 11, "UserCount=?");
  Write(text);
  Open();
  QApplication::processEvents();
  EXPECT_FALSE(W<QPushButton>("Button4").isEnabled());
  EXPECT_FALSE(W<QTableWidget>("SGUsers").isEnabled());
  SelectGroup(0);
  EXPECT_TRUE(W<QPushButton>("Button4").isEnabled());
  W<QPushButton>("Button3").click();  // cancelled
  EXPECT_EQ(services_.lastFilter, QStringLiteral("( *.qdb )"));
  Close();
}

}  // namespace
}  // namespace qv::desktop
