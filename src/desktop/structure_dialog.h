#pragma once
// TFormBrowser, "DB Structure": the counts of a group's datafile and archive, the boundary
// between them on a track bar, the range of days to keep, the backup switch, and Apply, which
// rebuilds both files (store/restructure).
#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <functional>
#include <string>

#include "desktop/dialog_services.h"
#include "platform/time.h"
#include "state/catalogue.h"
#include "store/restructure.h"

namespace qv::desktop {

QDate DateFromDays(double days);
double DaysFromDate(const QDate& date);

class TFormBrowser final : public QDialog {
 public:
  TFormBrowser(std::string datafilePath, int32_t maxArchive, const state::Catalogue& texts,
               DialogServices& services, platform::TDateTime now, QWidget* parent = nullptr);

  // False when the files could not be read; SetupError() then says why.
  bool Ready() const { return ready_; }
  const QString& SetupError() const { return setupError_; }
  const store::StructureInfo& Info() const { return info_; }
  double BeginDate() const { return beginDate_; }
  double EndDate() const { return endDate_; }
  bool BeginDropsOldest() const { return beginRed_; }
  // Something was changed and not applied (Apply is enabled).
  bool HasUnsavedEdits() const;
  // Called with the datafile path right before Apply rewrites the files (a running server brings
  // its journalled changes into the datafile).
  void SetBeforeRewrite(std::function<void(const std::string&)> before) {
    beforeRewrite_ = std::move(before);
  }
  // Receives the log line (Windows-1251) that says what Apply did.
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  QSlider& TrackBar1() { return *trackBar1_; }
  QDateEdit& Label4() { return *label4_; }
  QDateEdit& Label5() { return *label5_; }
  QPushButton& Button2() { return *button2_; }

 private:
  void SetUp();
  void PlaceLabel6();
  void OnTrackBar(int position);
  void CheckBeginPicker();
  void CheckEndPicker();
  void SetPicker(QDateEdit& picker, double days, double& field);
  void SetBeginRed(bool red);
  bool ConfirmApply(const store::RestructureOptions& options);
  void Log(const std::string& line) const;
  void Apply();

  std::function<void(const std::string&)> beforeRewrite_;
  std::function<void(const std::string&)> log_;
  const std::string datafilePath_;
  const int32_t maxArchive_;
  const state::Catalogue& texts_;
  DialogServices& services_;
  const platform::TDateTime now_;
  store::StructureInfo info_;
  bool ready_ = false;
  QString setupError_;
  double beginDate_ = 0;
  double endDate_ = 0;
  bool beginRed_ = false;

  QLabel* label1_;
  QLabel* label2_;
  QLabel* label3_;
  QLabel* label6_;
  QLabel* label7_;
  QLabel* label8_;
  QSlider* trackBar1_;
  QDateEdit* label4_;
  QDateEdit* label5_;
  QCheckBox* checkBox1_;
  QPushButton* button1_;
  QPushButton* button2_;
};

}  // namespace qv::desktop
