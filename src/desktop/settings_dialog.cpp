#include "desktop/settings_dialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "desktop/key_filter.h"
#include "desktop/main_window.h"
#include "desktop/structure_dialog.h"
#include "desktop/text.h"
#include "platform/files.h"
#include "platform/time.h"

namespace qv::desktop {
namespace {

constexpr int kClientWidth = 551, kClientHeight = 388;
constexpr int kGridRowHeight = 18, kGridNameWidth = 187, kGridHostWidth = 103;

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

void SetTextIfDifferent(QLineEdit& edit, const QString& text) {
  if (edit.text() != text) edit.setText(text);
}

}  // namespace

TFormSerSet::TFormSerSet(std::string iniPath, const Catalogue& texts, DialogServices& services,
                         bool& liveNoDelay, QWidget* parent)
    : QDialog(parent), model_(std::move(iniPath)), texts_(texts), services_(services) {
  setWindowTitle(QStringLiteral("Server Settings"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  BuildWidgets();
  SetCaptions();
  InstallFilters();
  const bool loaded = model_.Load(liveNoDelay);
  ShowModel();
  Connect();
  const double scale = TFormQVServer::ScreenScale(*this);
  setFixedSize(sizeHint().expandedTo(
      QSize(static_cast<int>(kClientWidth * scale), static_cast<int>(kClientHeight * scale))));
  if (!loaded) {
    QTimer::singleShot(0, this, [this] {
      services_.Error(this, Msg(MsgId::ErrorCaption), Msg(MsgId::IniLoadError));
    });
  }
}

QString TFormSerSet::Msg(MsgId id) const {
  return FromAnsi(texts_[id]);
}

void TFormSerSet::BuildWidgets() {
  // Groups, left column.
  label19_ = Named(new QGroupBox(this), "Label19");
  button2_ = Named(new QPushButton(QStringLiteral("-"), label19_), "Button2");
  button1_ = Named(new QPushButton(QStringLiteral("+"), label19_), "Button1");
  button1_->setFixedWidth(28);
  button2_->setFixedWidth(28);
  edit1_ = Named(new QLineEdit(label19_), "Edit1");
  comboBox1_ = Named(new QComboBox(label19_), "ComboBox1");
  panel1_ = Named(new QFrame(label19_), "Panel1");
  label2_ = Named(new QLabel(panel1_), "Label2");
  edit3_ = Named(new QLineEdit(panel1_), "Edit3");
  edit3_->setReadOnly(true);
  button3_ = Named(new QPushButton(panel1_), "Button3");
  label9_ = Named(new QLabel(panel1_), "Label9");
  edit4_ = Named(new QLineEdit(panel1_), "Edit4");
  label3_ = Named(new QLabel(panel1_), "Label3");
  edit7_ = Named(new QLineEdit(panel1_), "Edit7");
  label4_ = Named(new QLabel(panel1_), "Label4");
  edit5_ = Named(new QLineEdit(panel1_), "Edit5");
  label5_ = Named(new QLabel(panel1_), "Label5");
  edit6_ = Named(new QLineEdit(panel1_), "Edit6");
  label6_ = Named(new QLabel(panel1_), "Label6");
  listBox1_ = Named(new QListWidget(panel1_), "ListBox1");
  listBox1_->setFixedHeight(56);
  checkBox6_ = Named(new QCheckBox(panel1_), "CheckBox6");
  checkBox6_->setVisible(false);
  button6_ = Named(new QPushButton(panel1_), "Button6");
  for (QLineEdit* e : {edit4_, edit7_, edit5_, edit6_}) e->setMaximumWidth(70);

  auto* groupRow = new QHBoxLayout;
  groupRow->addWidget(button2_);
  groupRow->addWidget(button1_);
  groupRow->addWidget(edit1_, 1);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(edit3_, 1);
  fileRow->addWidget(button3_);
  auto* fields = new QFormLayout;
  fields->addRow(label9_, edit4_);
  fields->addRow(label3_, edit7_);
  fields->addRow(label4_, edit5_);
  fields->addRow(label5_, edit6_);
  fields->addRow(label6_, listBox1_);
  auto* panelLayout = new QVBoxLayout(panel1_);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->addWidget(label2_);
  panelLayout->addLayout(fileRow);
  panelLayout->addLayout(fields);
  panelLayout->addWidget(checkBox6_);
  panelLayout->addWidget(button6_);
  auto* groupsLayout = new QVBoxLayout(label19_);
  groupsLayout->addLayout(groupRow);
  groupsLayout->addWidget(comboBox1_);
  groupsLayout->addWidget(panel1_);
  groupsLayout->addStretch(1);

  // Users, right column.
  label7_ = Named(new QLabel(this), "Label7");
  button5_ = Named(new QPushButton(QStringLiteral("-"), this), "Button5");
  button4_ = Named(new QPushButton(QStringLiteral("+"), this), "Button4");
  button5_->setFixedWidth(28);
  button4_->setFixedWidth(28);
  label12_ = Named(new QLabel(this), "Label12");
  edit2_ = Named(new QLineEdit(QStringLiteral("New User"), this), "Edit2");
  label14_ = Named(new QLabel(this), "Label14");
  edit9_ = Named(new QLineEdit(QStringLiteral("NewHost"), this), "Edit9");
  sgUsers_ = Named(new QTableWidget(1, 2, this), "SGUsers");
  sgUsers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgUsers_->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgUsers_->setSelectionMode(QAbstractItemView::SingleSelection);
  sgUsers_->verticalHeader()->setVisible(false);
  const double scale = TFormQVServer::ScreenScale(*this);
  sgUsers_->verticalHeader()->setDefaultSectionSize(static_cast<int>(kGridRowHeight * scale));
  sgUsers_->setColumnWidth(0, static_cast<int>(kGridNameWidth * scale));
  sgUsers_->setColumnWidth(1, static_cast<int>(kGridHostWidth * scale));
  sgUsers_->horizontalHeader()->setStretchLastSection(true);

  auto* userButtons = new QHBoxLayout;
  userButtons->addWidget(label7_, 1);
  userButtons->addWidget(button5_);
  userButtons->addWidget(button4_);
  auto* newUser = new QFormLayout;
  newUser->addRow(label12_, edit2_);
  newUser->addRow(label14_, edit9_);
  auto* usersLayout = new QVBoxLayout;
  usersLayout->addLayout(userButtons);
  usersLayout->addLayout(newUser);
  usersLayout->addWidget(sgUsers_, 1);

  // Language and network, bottom left.
  label15_ = Named(new QGroupBox(this), "Label15");
  listBox2_ = Named(new QListWidget(label15_), "ListBox2");
  listBox2_->setFixedHeight(44);
  auto* languageLayout = new QVBoxLayout(label15_);
  languageLayout->addWidget(listBox2_);
  label8_ = Named(new QGroupBox(this), "Label8");
  label1_ = Named(new QLabel(label8_), "Label1");
  edit17_ = Named(new QLineEdit(label8_), "Edit17");
  edit17_->setMinimumWidth(60);
  edit17_->setMaximumWidth(80);
  lbPort2_ = Named(new QLabel(QStringLiteral("port 2"), label8_), "lbPort2");
  checkBox1_ = Named(new QCheckBox(label8_), "CheckBox1");
  cbTCPNoDelay_ = Named(new QCheckBox(label8_), "cbTCPNoDelay");
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(label1_);
  portRow->addWidget(edit17_);
  portRow->addWidget(lbPort2_, 1);
  auto* networkLayout = new QVBoxLayout(label8_);
  networkLayout->addLayout(portRow);
  networkLayout->addWidget(checkBox1_);
  networkLayout->addWidget(cbTCPNoDelay_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(label15_);
  bottom->addWidget(label8_, 1);

  auto* left = new QVBoxLayout;
  left->addWidget(label19_, 1);
  left->addLayout(bottom);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(usersLayout, 1);
}

void TFormSerSet::SetCaptions() {
  label19_->setTitle(Msg(MsgId::GroupsBox));
  label2_->setText(Msg(MsgId::DatafileLabel));
  button3_->setText(Msg(MsgId::BrowseButton));
  label9_->setText(Msg(MsgId::TotalRecords));
  label3_->setText(Msg(MsgId::TotalArchiveRecords));
  label4_->setText(Msg(MsgId::StartingTime));
  label5_->setText(Msg(MsgId::FinishingTime));
  label6_->setText(Msg(MsgId::StepLabel));
  listBox1_->addItems({QStringLiteral("1 ") + Msg(MsgId::Hour),
                       QStringLiteral("2 ") + Msg(MsgId::Hours),
                       QStringLiteral("3 ") + Msg(MsgId::Hours)});
  checkBox6_->setText(Msg(MsgId::AutoArchive));
  button6_->setText(Msg(MsgId::StructureButton));
  label7_->setText(Msg(MsgId::UsersInGroup));
  label12_->setText(Msg(MsgId::UserNameHeader));
  label14_->setText(Msg(MsgId::HostNameHeader));
  sgUsers_->setHorizontalHeaderLabels({Msg(MsgId::UserNameHeader), Msg(MsgId::HostNameHeader)});
  label15_->setTitle(Msg(MsgId::LanguageBox));
  listBox2_->addItems({Msg(MsgId::English), Msg(MsgId::Russian)});
  label8_->setTitle(Msg(MsgId::NetworkBox));
  label1_->setText(Msg(MsgId::PortLabel));
  checkBox1_->setText(Msg(MsgId::DirectSending));
  cbTCPNoDelay_->setText(Msg(MsgId::TcpNoDelay));
}

void TFormSerSet::InstallFilters() {
  const auto beep = [this] { services_.Beep(); };
  const auto digitsOnly = [](const QKeyEvent& key) {
    if (!IsCharacterKey(key) || key.key() == Qt::Key_Backspace) return true;
    const QChar c = key.text().front();
    return c >= QChar('0') && c <= QChar('9');
  };
  for (QLineEdit* edit : {edit4_, edit7_, edit5_, edit6_, edit17_}) {
    edit->installEventFilter(new KeyFilter(edit, digitsOnly, beep));
  }
  const auto noColon = [](const QKeyEvent& key) {
    return !IsCharacterKey(key) || !key.text().contains(QChar(':'));
  };
  for (QLineEdit* edit : {edit2_, edit9_}) {
    edit->installEventFilter(new KeyFilter(edit, noColon, beep));
  }
  // The grid is not edited directly: a character key in the name column is refused; in the
  // host column ':' is refused and every character key counts as a change.
  sgUsers_->installEventFilter(new KeyFilter(
      sgUsers_,
      [this](const QKeyEvent& key) {
        if (!IsCharacterKey(key)) return true;
        if (sgUsers_->currentColumn() <= 0) return false;
        model_.HostCellKeyPressed();
        return !key.text().contains(QChar(':'));
      },
      beep));
}

void TFormSerSet::Connect() {
  connect(edit1_, &QLineEdit::textEdited, this, [this] {
    model_.GroupNameEdited();
    ShowModel();
  });
  connect(button1_, &QPushButton::clicked, this, [this] {
    model_.KeepGrid();
    model_.AddGroup(ToAnsi(edit1_->text()));
    ShowModel();
  });
  connect(button2_, &QPushButton::clicked, this, [this] {
    model_.RemoveGroup();
    ShowModel();
  });
  connect(comboBox1_, &QComboBox::activated, this, [this](int index) {
    model_.SelectGroup(index);
    ShowModel();
  });
  connect(edit4_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetCount(t.toStdString()); });
  connect(edit7_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetCountArc(t.toStdString()); });
  connect(edit5_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetTimeBegin(t.toStdString()); });
  connect(edit6_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetTimeEnd(t.toStdString()); });
  connect(listBox1_, &QListWidget::currentRowChanged, this,
          [this](int row) { model_.SetStep(row); });
  connect(checkBox6_, &QCheckBox::clicked, this, [this](bool on) { model_.SetArchiveLink(on); });
  connect(button3_, &QPushButton::clicked, this, [this] { ChooseDatafile(); });
  connect(button6_, &QPushButton::clicked, this, [this] { OpenStructure(); });
  connect(button4_, &QPushButton::clicked, this, [this] { AddUser(); });
  connect(button5_, &QPushButton::clicked, this, [this] {
    model_.RemoveUser(std::max(sgUsers_->currentRow(), 0));
    ShowGrid();
  });
  connect(edit17_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.SetPort(t.toStdString());
    lbPort2_->setText(QString::fromStdString(model_.Port2Label()));
  });
  connect(listBox2_, &QListWidget::currentRowChanged, this,
          [this](int row) { model_.SetLanguage(row); });
  connect(checkBox1_, &QCheckBox::clicked, this, [this](bool on) { model_.SetDirectSend(on); });
  connect(cbTCPNoDelay_, &QCheckBox::clicked, this, [this](bool on) { model_.SetTcpNoDelay(on); });
}

void TFormSerSet::ShowModel() {
  const QSignalBlocker b1(comboBox1_), b2(listBox1_), b3(listBox2_), b4(checkBox6_);
  const QSignalBlocker b5(checkBox1_), b6(cbTCPNoDelay_);
  QStringList names;
  for (const std::string& name : model_.GroupNames()) names << FromAnsi(name);
  QStringList shown;
  for (int i = 0; i < comboBox1_->count(); ++i) shown << comboBox1_->itemText(i);
  if (names != shown) {
    comboBox1_->clear();
    comboBox1_->addItems(names);
  }
  comboBox1_->setCurrentIndex(model_.CurrentGroup());
  panel1_->setVisible(model_.PanelVisible());
  button1_->setEnabled(model_.AddGroupEnabled());
  button2_->setEnabled(model_.RemoveGroupEnabled());

  const config::TMyDBAlias& fields = model_.Shown();
  SetTextIfDifferent(*edit3_, FromPath(model_.DatafileDisplay()));
  SetTextIfDifferent(*edit4_, QString::fromStdString(fields.Count));
  SetTextIfDifferent(*edit7_, QString::fromStdString(fields.CountArc));
  SetTextIfDifferent(*edit5_, QString::fromStdString(fields.TimeBegin));
  SetTextIfDifferent(*edit6_, QString::fromStdString(fields.TimeEnd));
  listBox1_->setCurrentRow(fields.Step >= 0 && fields.Step < listBox1_->count() ? fields.Step : -1);
  checkBox6_->setChecked(fields.ArchiveLink);
  button6_->setEnabled(model_.StructureEnabled());

  listBox2_->setCurrentRow(
      model_.Language() >= 0 && model_.Language() < listBox2_->count() ? model_.Language() : -1);
  SetTextIfDifferent(*edit17_, QString::fromStdString(model_.Port()));
  lbPort2_->setText(QString::fromStdString(model_.Port2Label()));
  checkBox1_->setChecked(model_.DirectSend());
  cbTCPNoDelay_->setChecked(model_.TcpNoDelay());
  ShowGrid();
}

void TFormSerSet::ShowGrid() {
  const int row = sgUsers_->currentRow();
  const auto& grid = model_.Grid();
  sgUsers_->setRowCount(static_cast<int>(grid.size()));
  for (int r = 0; r < static_cast<int>(grid.size()); ++r) {
    const config::SettingsUser& user = grid[static_cast<size_t>(r)];
    sgUsers_->setItem(r, 0, new QTableWidgetItem(FromAnsi(user.UserName)));
    sgUsers_->setItem(r, 1, new QTableWidgetItem(FromAnsi(user.HostName)));
  }
  sgUsers_->setCurrentCell(std::clamp(row, 0, sgUsers_->rowCount() - 1), 0);
}

void TFormSerSet::AddUser() {
  std::string host = ToAnsi(edit9_->text());
  const config::AddUserResult result = model_.AddUser(ToAnsi(edit2_->text()), host);
  SetTextIfDifferent(*edit9_, FromAnsi(host));
  switch (result) {
    case config::AddUserResult::DuplicateUserName:
      services_.Warn(this, Msg(MsgId::WarningCaption), Msg(MsgId::UserExists));
      break;
    case config::AddUserResult::DuplicateHost:
      services_.Warn(this, Msg(MsgId::WarningCaption), Msg(MsgId::AddressExists));
      break;
    case config::AddUserResult::Added:
      ShowGrid();
      sgUsers_->setCurrentCell(sgUsers_->rowCount() - 1, 0);
      break;
    case config::AddUserResult::Ignored:
      break;
  }
}

void TFormSerSet::ChooseDatafile() {
  const QString chosen = services_.ChooseFileToOpen(this, QStringLiteral("( *.qdb ) (*.qdb)"));
  if (chosen.isEmpty()) return;
  try {
    model_.ChooseDatafile(ToPath(chosen));
  } catch (const std::exception& e) {
    services_.Error(this, Msg(MsgId::ErrorCaption), QString::fromLocal8Bit(e.what()));
  }
  ShowModel();
}

void TFormSerSet::OpenStructure() {
  const std::string path = model_.DatafilePath();
  if (path.empty() || !platform::FileExists(path)) return;
  const std::optional<int32_t> maxArchive = model_.StructureMaxArchive();
  if (!maxArchive) {
    services_.Error(this, Msg(MsgId::ErrorCaption),
                    QStringLiteral("'%1' is not a valid integer value.").arg(edit7_->text()));
    return;
  }
  TFormBrowser browser(path, *maxArchive, texts_, services_, platform::Now(), this);
  if (!browser.Ready()) {
    services_.Error(this, Msg(MsgId::ErrorCaption), browser.SetupError());
    return;
  }
  services_.RunModal(browser);
}

void TFormSerSet::closeEvent(QCloseEvent* event) {
  model_.KeepGrid();
  if (model_.ShouldAskToSave() &&
      services_.AskYesNo(this, Msg(MsgId::WarningCaption), Msg(MsgId::SaveChanges))) {
    try {
      model_.Save();
      services_.Warn(this, Msg(MsgId::WarningCaption), Msg(MsgId::ChangesAfterRestart));
    } catch (const std::exception& e) {
      services_.Error(this, Msg(MsgId::ErrorCaption), QString::fromLocal8Bit(e.what()));
    }
  }
  event->accept();
}

}  // namespace qv::desktop
