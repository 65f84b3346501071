// The DB Structure dialog on real files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "desktop/structure_dialog.h"
#include "fake_services.h"
#include "state/catalogue.h"
#include "wire/day_record.h"

namespace qv::desktop {
namespace {

constexpr double kDay0 = 46000;

class StructureDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-browser-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/g.qdb";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static void WriteDays(const std::string& path, const std::vector<double>& dates) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> record(wire::kDayRecordSize, 0);
    for (double date : dates) {
      std::memcpy(record.data(), &date, sizeof date);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }
  static std::vector<double> ReadDays(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<double> dates;
    std::vector<char> record(wire::kDayRecordSize);
    while (in.read(record.data(), static_cast<std::streamsize>(record.size()))) {
      double date = 0;
      std::memcpy(&date, record.data(), sizeof date);
      dates.push_back(date);
    }
    return dates;
  }
  QString LabelText(TFormBrowser& d, const char* name) {
    return d.findChild<QLabel*>(QString::fromLatin1(name))->text();
  }

  std::string dir_, data_;
  state::Catalogue catalogue_;
  FakeServices services_;
};

TEST_F(StructureDialogTest, CountsTrackBarAndBeginDate) {
  WriteDays(dir_ + "/g.arc", {kDay0, kDay0 + 1, kDay0 + 2});
  WriteDays(data_, {kDay0 + 3, kDay0 + 4, kDay0 + 5, kDay0 + 6, kDay0 + 7});
  TFormBrowser dialog(data_, 4, catalogue_, services_, kDay0 + 8);
  ASSERT_TRUE(dialog.Ready());
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("DB Structure"));
  EXPECT_EQ(LabelText(dialog, "Label1"), QStringLiteral("Total number of Datafile records: 5"));
  EXPECT_EQ(LabelText(dialog, "Label2"), QStringLiteral("Total number of Archive records: 3"));
  EXPECT_EQ(LabelText(dialog, "Label3"), QStringLiteral("Total number of all records: 8"));
  EXPECT_EQ(LabelText(dialog, "Label8"), QStringLiteral("Max Size of Archive: 4"));
  EXPECT_EQ(dialog.TrackBar1().maximum(), 7);
  EXPECT_EQ(dialog.TrackBar1().value(), 3);
  EXPECT_EQ(LabelText(dialog, "Label6"),
            QLocale().toString(DateFromDays(kDay0 + 3), QLocale::ShortFormat));
  EXPECT_EQ(dialog.Label4().date(), DateFromDays(kDay0));
  EXPECT_EQ(dialog.Label5().date(), DateFromDays(kDay0 + 7));
  EXPECT_FALSE(dialog.Button2().isEnabled());

  dialog.TrackBar1().setValue(6);  // MaxArchive + 2
  EXPECT_TRUE(dialog.Button2().isEnabled());
  EXPECT_EQ(dialog.Label4().date(), DateFromDays(kDay0 + 2));
  EXPECT_TRUE(dialog.BeginDropsOldest());
  dialog.TrackBar1().setValue(2);
  EXPECT_EQ(dialog.Label4().date(), DateFromDays(kDay0));
  EXPECT_FALSE(dialog.BeginDropsOldest());
  // At the right end the date under the thumb is still whole inside the dialog.
  dialog.TrackBar1().setValue(7);
  auto* label6 = dialog.findChild<QLabel*>(QStringLiteral("Label6"));
  EXPECT_LE(label6->geometry().right(), dialog.width());
  EXPECT_GE(label6->width(), label6->sizeHint().width());
  dialog.TrackBar1().setValue(2);

  // A begin date after the end date is put back with a beep as soon as it is set.
  dialog.Label4().setDate(DateFromDays(kDay0 + 9));
  EXPECT_EQ(dialog.Label4().date(), DateFromDays(kDay0 + 7));
  EXPECT_EQ(services_.beeps, 1);
  dialog.Label5().setDate(DateFromDays(kDay0 + 1));
  EXPECT_EQ(dialog.Label5().date(), DateFromDays(kDay0 + 7));
  EXPECT_EQ(services_.beeps, 2);
}

// Archive 1-8, datafile 9-12: the begin date stepped with the Up key past the end date stays
// at the end date; Apply asks first, No leaves both files byte for byte, Yes rewrites and logs.
TEST_F(StructureDialogTest, SteppedBeginDateIsClampedAndApplyAsksFirst) {
  std::vector<double> archiveDays, dataDays;
  for (int d = 1; d <= 8; ++d) archiveDays.push_back(kDay0 + d);
  for (int d = 9; d <= 12; ++d) dataDays.push_back(kDay0 + d);
  WriteDays(dir_ + "/g.arc", archiveDays);
  WriteDays(data_, dataDays);
  const auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string archiveBefore = bytes(dir_ + "/g.arc");
  const std::string dataBefore = bytes(data_);

  TFormBrowser dialog(data_, 365, catalogue_, services_, kDay0 + 13);
  std::vector<std::string> logged;
  dialog.SetLog([&](const std::string& line) { logged.push_back(line); });
  int rewrites = 0;
  dialog.SetBeforeRewrite([&](const std::string&) { ++rewrites; });
  dialog.show();
  QDateEdit& begin = dialog.Label4();
  begin.setFocus();
  begin.setCurrentSection(QDateTimeEdit::DaySection);
  for (int i = 0; i < 20; ++i) QTest::keyClick(&begin, Qt::Key_Up);
  EXPECT_EQ(begin.date(), DateFromDays(kDay0 + 12)) << "never past the end date";
  EXPECT_GE(services_.beeps, 1);
  EXPECT_TRUE(dialog.Button2().isEnabled());

  services_.answerYes = false;
  dialog.Button2().click();
  ASSERT_EQ(services_.questions.size(), 1u);
  // Days 1-11 leave: 8 of the archive, 3 of the datafile; day 12 stays in the datafile.
  EXPECT_TRUE(services_.questions[0].text.contains(QStringLiteral("3 day(s) of the datafile")))
      << services_.questions[0].text.toStdString();
  EXPECT_TRUE(services_.questions[0].text.contains(QStringLiteral("8 day(s) of the archive")));
  EXPECT_EQ(rewrites, 0);
  EXPECT_EQ(bytes(dir_ + "/g.arc"), archiveBefore);
  EXPECT_EQ(bytes(data_), dataBefore);
  EXPECT_TRUE(logged.empty());
  EXPECT_TRUE(dialog.isVisible()) << "No keeps the dialog for another choice";

  services_.answerYes = true;
  dialog.Button2().click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(rewrites, 1);
  EXPECT_EQ(ReadDays(data_), (std::vector<double>{kDay0 + 12}));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("datafile 4 -> 1 records, archive 8 -> 0 records, backup copy " + data_ +
                           "_Copy_"),
            std::string::npos)
      << logged[0];
}

TEST_F(StructureDialogTest, ApplyRebuildsTheFilesWithoutBackupWhenUnticked) {
  WriteDays(dir_ + "/g.arc", {kDay0, kDay0 + 1, kDay0 + 2});
  WriteDays(data_, {kDay0 + 3, kDay0 + 4, kDay0 + 5, kDay0 + 6, kDay0 + 7});
  TFormBrowser dialog(data_, 4, catalogue_, services_, kDay0 + 8);
  // Begin at day 2; the archive pass reads at most 4 records, the two dropped ones included.
  dialog.TrackBar1().setValue(6);
  dialog.findChild<QCheckBox*>("CheckBox1")->setChecked(false);
  // A running server brings its journalled changes into the datafile first.
  std::vector<std::string> flushed;
  dialog.SetBeforeRewrite([&](const std::string& path) {
    flushed.push_back(path);
    EXPECT_EQ(ReadDays(path).size(), 5u) << "called before the files are rewritten";
  });
  dialog.Button2().click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(services_.errors.empty());
  EXPECT_EQ(flushed, std::vector<std::string>{data_});
  EXPECT_EQ(ReadDays(dir_ + "/g.arc"), (std::vector<double>{kDay0 + 2, kDay0 + 3}));
  EXPECT_EQ(ReadDays(data_), (std::vector<double>{kDay0 + 4, kDay0 + 5, kDay0 + 6, kDay0 + 7}));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"g.arc", "g.qdb"}));
}

TEST_F(StructureDialogTest, DescendingDaysWarnAndFewRecordsHideTheTrackBar) {
  WriteDays(data_, {kDay0 + 2, kDay0 + 1, kDay0});
  TFormBrowser dialog(data_, 0, catalogue_, services_, kDay0 + 8);
  dialog.show();
  EXPECT_TRUE(dialog.TrackBar1().isVisible());
  EXPECT_FALSE(dialog.Button2().isEnabled());
  dialog.TrackBar1().setValue(1);
  dialog.Button2().click();
  ASSERT_EQ(services_.warnings.size(), 1u);
  EXPECT_EQ(services_.warnings[0].caption, QStringLiteral("Warning!"));
  EXPECT_EQ(
      services_.warnings[0].text,
      QStringLiteral(
          "The correction of sequence of records is made only. You need repeat Restructure."));
  EXPECT_EQ(ReadDays(data_), (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2}));
  // The backup (ticked by default) holds the records as they were.
  int backups = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    if (e.path().filename().string().rfind("g.qdb_Copy_", 0) == 0) {
      ++backups;
      EXPECT_EQ(ReadDays(e.path().string()), (std::vector<double>{kDay0 + 2, kDay0 + 1, kDay0}));
    }
  }
  EXPECT_EQ(backups, 1);

  WriteDays(data_, {kDay0});
  TFormBrowser single(data_, 0, catalogue_, services_, kDay0 + 8);
  single.show();
  EXPECT_FALSE(single.TrackBar1().isVisible());
  EXPECT_FALSE(single.Label4().isVisible());
  EXPECT_FALSE(single.Label5().isVisible());
}

TEST_F(StructureDialogTest, AFailedApplyIsReportedAndLeavesTheFiles) {
  WriteDays(data_, {kDay0, kDay0 + 1, kDay0 + 2});
  TFormBrowser dialog(data_, 0, catalogue_, services_, kDay0 + 8);
  // A directory where the new datafile would go makes writing it fail.
  std::filesystem::create_directory(data_ + ".new");
  dialog.TrackBar1().setValue(1);
  dialog.Button2().click();
  ASSERT_EQ(services_.errors.size(), 1u);
  EXPECT_EQ(services_.errors[0].caption, QStringLiteral("Error!"));
  EXPECT_EQ(ReadDays(data_), (std::vector<double>{kDay0, kDay0 + 1, kDay0 + 2}));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/g.arc"));
}

}  // namespace
}  // namespace qv::desktop
