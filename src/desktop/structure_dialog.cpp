#include "desktop/structure_dialog.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <exception>

#include "desktop/desktop_texts.h"
#include "desktop/text.h"

namespace qv::desktop {
namespace {

const QDate kDayZero(1899, 12, 30);
constexpr int kTrackLeft = 20, kTrackTop = 70, kTrackWidth = 455, kTrackHeight = 28;
constexpr int kLabelMargin = 4;

QString ShortDate(double days) {
  return QLocale().toString(DateFromDays(days), QLocale::ShortFormat);
}

}  // namespace

QDate DateFromDays(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return {};
  return kDayZero.addDays(static_cast<qint64>(std::floor(days)));
}

double DaysFromDate(const QDate& date) {
  return static_cast<double>(kDayZero.daysTo(date));
}

TFormBrowser::TFormBrowser(std::string datafilePath, int32_t maxArchive,
                           const state::Catalogue& texts, DialogServices& services,
                           platform::TDateTime now, QWidget* parent)
    : QDialog(parent),
      datafilePath_(std::move(datafilePath)),
      maxArchive_(maxArchive),
      texts_(texts),
      services_(services),
      now_(now) {
  setWindowTitle(UiText(texts_, DesktopText::StructureCaption));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(495, 202);

  const auto label = [this](const char* name, int x, int y, int w) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(x, y, w, 18);
    return l;
  };
  label1_ = label("Label1", 10, 8, 300);
  label2_ = label("Label2", 10, 26, 300);
  label3_ = label("Label3", 10, 44, 300);
  label7_ = label("Label7", 300, 8, 190);
  label8_ = label("Label8", 300, 26, 190);
  label6_ = label("Label6", kTrackLeft, kTrackTop + kTrackHeight, 100);

  trackBar1_ = new QSlider(Qt::Horizontal, this);
  trackBar1_->setObjectName(QStringLiteral("TrackBar1"));
  trackBar1_->setGeometry(kTrackLeft, kTrackTop, kTrackWidth, kTrackHeight);
  trackBar1_->setTickPosition(QSlider::TicksBelow);

  const auto picker = [this](const char* name, int x) {
    auto* p = new QDateEdit(this);
    p->setObjectName(QString::fromLatin1(name));
    p->setCalendarPopup(true);
    p->setGeometry(x, 128, 120, 24);
    return p;
  };
  label4_ = picker("Label4", kTrackLeft);
  label5_ = picker("Label5", kTrackLeft + kTrackWidth - 120);

  checkBox1_ = new QCheckBox(FromAnsi(texts_[wire::MsgId::CreateCopy]), this);
  checkBox1_->setObjectName(QStringLiteral("CheckBox1"));
  checkBox1_->setGeometry(kTrackLeft, 166, 200, 22);
  checkBox1_->setChecked(true);
  button1_ = new QPushButton(FromAnsi(texts_[wire::MsgId::CancelButton]), this);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setGeometry(300, 164, 85, 26);
  button2_ = new QPushButton(FromAnsi(texts_[wire::MsgId::ApplyButton]), this);
  button2_->setObjectName(QStringLiteral("Button2"));
  button2_->setGeometry(395, 164, 85, 26);

  SetUp();

  label7_->setText(FromAnsi(texts_[wire::MsgId::CurrentDate]) + ShortDate(now_));
  label8_->setText(FromAnsi(texts_[wire::MsgId::MaxArchiveSize]) + QChar(' ') +
                   QString::number(maxArchive_));

  connect(trackBar1_, &QSlider::valueChanged, this, [this](int position) { OnTrackBar(position); });
  // The range is checked on every change of either date, however it was made: typed, stepped
  // with the arrow keys or the wheel, or picked in the calendar.
  connect(label4_, &QDateEdit::dateChanged, this, [this] {
    button2_->setEnabled(true);
    CheckBeginPicker();
  });
  connect(label5_, &QDateEdit::dateChanged, this, [this] {
    button2_->setEnabled(true);
    CheckEndPicker();
  });
  connect(button1_, &QPushButton::clicked, this, &QDialog::reject);
  connect(button2_, &QPushButton::clicked, this, [this] { Apply(); });
}

void TFormBrowser::SetUp() {
  try {
    info_ = store::ReadStructure(datafilePath_);
    ready_ = true;
  } catch (const std::exception& e) {
    setupError_ = QString::fromLocal8Bit(e.what());
  }
  label1_->setText(FromAnsi(texts_[wire::MsgId::DatafileRecordsCount]) +
                   QString::number(info_.DataCount));
  label2_->setText(FromAnsi(texts_[wire::MsgId::ArchiveRecordsCount]) +
                   QString::number(info_.ArchiveCount));
  label3_->setText(FromAnsi(texts_[wire::MsgId::AllRecordsCount]) + QString::number(info_.Total()));

  const bool few = info_.Total() < 2;
  trackBar1_->setVisible(!few);
  label4_->setVisible(!few);
  label5_->setVisible(!few);
  label6_->setVisible(!few);

  const QSignalBlocker blockTrack(trackBar1_);
  trackBar1_->setRange(0, static_cast<int>(std::max<int64_t>(info_.Total() - 1, 0)));
  trackBar1_->setValue(static_cast<int>(info_.ArchiveCount));
  PlaceLabel6();
  const QSignalBlocker blockBegin(label4_);
  const QSignalBlocker blockEnd(label5_);
  SetPicker(*label4_, info_.EarliestDate, beginDate_);
  SetPicker(*label5_, info_.LatestDate, endDate_);
  label6_->setText(ShortDate(info_.DataStartDate));
  PlaceLabel6();
  button2_->setEnabled(false);
  SetBeginRed(false);
}

bool TFormBrowser::HasUnsavedEdits() const {
  return button2_->isEnabled();
}

void TFormBrowser::SetPicker(QDateEdit& picker, double days, double& field) {
  const QDate date = DateFromDays(days);
  if (!date.isValid() || date < picker.minimumDate() || date > picker.maximumDate()) {
    field = 0;  // a date the picker cannot show
    return;
  }
  picker.setDate(date);
  field = DaysFromDate(date);
}

// Under the thumb, but whole: near the right end the label stops at the dialog's edge.
void TFormBrowser::PlaceLabel6() {
  label6_->adjustSize();
  if (trackBar1_->maximum() <= 0) return;
  const int left =
      store::TrackLabelLeft(trackBar1_->value(), trackBar1_->maximum(), kTrackWidth, kTrackLeft);
  const int rightmost = std::max(width() - label6_->width() - kLabelMargin, 0);
  label6_->move(std::clamp(left, 0, rightmost), label6_->y());
}

void TFormBrowser::SetBeginRed(bool red) {
  beginRed_ = red;
  label4_->setStyleSheet(red ? QStringLiteral("QDateEdit { color: red; }") : QString());
}

void TFormBrowser::OnTrackBar(int position) {
  button2_->setEnabled(true);
  if (position >= 0 && static_cast<size_t>(position) < info_.Dates.size()) {
    label6_->setText(ShortDate(info_.Dates[static_cast<size_t>(position)]));
  }
  PlaceLabel6();
  const store::BeginChoice begin = store::BeginForPosition(info_, position, maxArchive_);
  const QSignalBlocker blockBegin(label4_);
  const QSignalBlocker blockEnd(label5_);
  SetPicker(*label4_, begin.BeginDate, beginDate_);
  SetBeginRed(begin.DropsOldest);
  SetPicker(*label5_, info_.LatestDate, endDate_);
}

void TFormBrowser::CheckBeginPicker() {
  if (label4_->date() > label5_->date()) {
    const QSignalBlocker block(label4_);
    label4_->setDate(label5_->date());
    services_.Beep();
  }
  beginDate_ = DaysFromDate(label4_->date());
}

void TFormBrowser::CheckEndPicker() {
  if (label5_->date() < label4_->date()) {
    const QSignalBlocker block(label5_);
    label5_->setDate(label4_->date());
    services_.Beep();
  }
  endDate_ = DaysFromDate(label5_->date());
}

bool TFormBrowser::ConfirmApply(const store::RestructureOptions& options) {
  const store::RestructurePlan plan =
      store::PlanRestructure(info_, options.Dates, options.MaxArchive, options.MaxData);
  QString question = UiText(texts_, DesktopText::RestructureQuestion)
                         .arg(plan.DataDaysLeaving)
                         .arg(plan.ArchiveDaysLeaving)
                         .arg(plan.DataRecords)
                         .arg(plan.ArchiveRecords);
  question += QChar('\n');
  question += UiText(texts_, options.Backup ? DesktopText::RestructureBackupKeeps
                                            : DesktopText::RestructureNoBackup);
  return services_.AskYesNo(this, FromAnsi(texts_[wire::MsgId::WarningCaption]), question);
}

void TFormBrowser::Log(const std::string& line) const {
  if (log_) log_(line);
}

void TFormBrowser::Apply() {
  // A date can still be out of order here when a signal was blocked; never rewrite with it.
  CheckBeginPicker();
  CheckEndPicker();
  store::RestructureOptions options;
  options.DatafilePath = datafilePath_;
  options.MaxArchive = maxArchive_;
  options.MaxData = store::kMaxDatafileRecords;
  options.Dates = store::DatesForApply(info_, trackBar1_->value(), DaysFromDate(label4_->date()),
                                       DaysFromDate(label5_->date()));
  options.Backup = checkBox1_->isChecked();  // named at the time it is made
  // No: nothing is touched, not even the journal, and the dialog stays for another choice.
  if (!ConfirmApply(options)) return;
  const QString file = FromPath(datafilePath_);
  try {
    if (beforeRewrite_) beforeRewrite_(datafilePath_);
    const store::RestructureResult result = store::Restructure(options);
    QString line = UiText(texts_, DesktopText::RestructureDone)
                       .arg(file)
                       .arg(info_.DataCount)
                       .arg(result.DataRecords)
                       .arg(info_.ArchiveCount)
                       .arg(result.ArchiveRecords);
    if (!result.BackupPath.empty()) {
      line += UiText(texts_, DesktopText::RestructureBackupName).arg(FromPath(result.BackupPath));
    }
    Log(ToAnsi(line));
    if (result.ShowSequenceWarning()) {
      services_.Warn(this, FromAnsi(texts_[wire::MsgId::WarningCaption]),
                     UiText(texts_, DesktopText::SequenceWarning));
    }
  } catch (const std::exception& e) {
    // The old datafile and archive are untouched.
    const QString reason = QString::fromLocal8Bit(e.what());
    Log(ToAnsi(UiText(texts_, DesktopText::RestructureFailed).arg(file, reason)));
    services_.Error(this, FromAnsi(texts_[wire::MsgId::ErrorCaption]), reason);
  }
  accept();
}

}  // namespace qv::desktop
