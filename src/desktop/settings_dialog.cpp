#include "desktop/settings_dialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "desktop/desktop_texts.h"
#include "desktop/key_filter.h"
#include "desktop/main_window.h"
#include "desktop/number_validator.h"
#include "desktop/structure_dialog.h"
#include "desktop/text.h"
#include "platform/files.h"
#include "platform/time.h"

namespace qv::desktop {
namespace {

constexpr int kClientWidth = 551, kClientHeight = 388;
constexpr int kGridRowHeight = 18, kGridNameWidth = 187, kGridHostWidth = 103;
constexpr int kSmallButtonWidth = 28;
constexpr int kGroupNameChars = 16;
// Shown as it stands: Qt reads the pattern from the parentheses, so no second pattern is added.
constexpr char kDatafileFilter[] = "( *.qdb )";

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// No button of the dialog reacts to Enter typed elsewhere: Enter never removes a group.
QPushButton* Button(const QString& text, QWidget* parent, const char* name) {
  auto* button = Named(new QPushButton(text, parent), name);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// Ctrl+Tab and Ctrl+Shift+Tab move between the cells of a grid, row by row; Tab leaves it.
class GridCellKeys final : public QObject {
 public:
  explicit GridCellKeys(QTableWidget* grid) : QObject(grid), grid_(grid) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (!(key.modifiers() & Qt::ControlModifier)) return false;
    if (key.key() != Qt::Key_Tab && key.key() != Qt::Key_Backtab) return false;
    const int columns = grid_->columnCount();
    const int cells = grid_->rowCount() * columns;
    if (cells <= 0) return true;
    const int current =
        std::max(grid_->currentRow(), 0) * columns + std::max(grid_->currentColumn(), 0);
    const int step = key.key() == Qt::Key_Tab ? 1 : -1;
    const int next = (current + step + cells) % cells;
    grid_->setCurrentCell(next / columns, next % columns);
    return true;
  }

 private:
  QTableWidget* grid_;
};

void SetTextIfDifferent(QLineEdit& edit, const QString& text) {
  if (edit.text() != text) edit.setText(text);
}

}  // namespace

TFormSerSet::TFormSerSet(std::string iniPath, const state::Catalogue& texts,
                         DialogServices& services, bool& liveNoDelay, QWidget* parent)
    : QDialog(parent), model_(std::move(iniPath)), texts_(texts), services_(services) {
  setWindowTitle(UiText(texts_, DesktopText::SettingsCaption));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  BuildWidgets();
  SetCaptions();
  InstallFilters();
  const bool loaded = model_.Load(liveNoDelay);
  ShowModel();
  Connect();
  // The group panel keeps its place while hidden, so this size holds whether or not a group
  // was shown when the dialog opened.
  const double scale = TFormQVServer::ScreenScale(*this);
  setFixedSize(sizeHint().expandedTo(
      QSize(static_cast<int>(kClientWidth * scale), static_cast<int>(kClientHeight * scale))));
  if (!loaded) {
    QTimer::singleShot(0, this, [this] {
      services_.Error(this, Msg(wire::MsgId::ErrorCaption), Msg(wire::MsgId::IniLoadError));
    });
  }
}

QString TFormSerSet::Msg(wire::MsgId id) const {
  return FromAnsi(texts_[id]);
}

// Two columns: the groups and the language on the left, the users and the network on the
// right, so that the dialog stays low enough for a 800-pixel screen at 144 dpi.
void TFormSerSet::BuildWidgets() {
  QGroupBox* groups = BuildGroupsBox();
  QGroupBox* language = BuildLanguageBox();
  QWidget* users = BuildUsersArea();
  QGroupBox* network = BuildNetworkBox();
  auto* left = new QVBoxLayout;
  left->addWidget(groups, 1);
  left->addWidget(language);
  auto* right = new QVBoxLayout;
  right->addWidget(users, 1);
  right->addWidget(network);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right, 1);
  SetTabOrder();
}

// Reading order: down the left column, then down the right one, and back to the start. The
// grid is left with Tab like any other control (Ctrl+Tab moves between its cells).
void TFormSerSet::SetTabOrder() {
  const QList<QWidget*> order = {
      removeGroupButton_, addGroupButton_, newGroupEdit_,    groupList_,      datafileEdit_,
      browseButton_,      countEdit_,      countArcEdit_,    timeBeginEdit_,  timeEndEdit_,
      stepList_,          archiveLinkBox_, structureButton_, languageList_,   removeUserButton_,
      addUserButton_,     userNameEdit_,   hostEdit_,        usersGrid_,      portEdit_,
      directSendBox_,     noDelayBox_,     feedPortEdit_,    feedAddressEdit_};
  for (qsizetype i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
  usersGrid_->setTabKeyNavigation(false);
}

QGroupBox* TFormSerSet::BuildGroupsBox() {
  groupsBox_ = Named(new QGroupBox(this), "Label19");
  removeGroupButton_ = Button(QStringLiteral("-"), groupsBox_, "Button2");
  addGroupButton_ = Button(QStringLiteral("+"), groupsBox_, "Button1");
  removeGroupButton_->setFixedWidth(kSmallButtonWidth);
  addGroupButton_->setFixedWidth(kSmallButtonWidth);
  newGroupEdit_ = Named(new QLineEdit(groupsBox_), "Edit1");
  groupList_ = Named(new QComboBox(groupsBox_), "ComboBox1");
  // A long group name is elided (its whole text is the tool tip), never widening the dialog.
  groupList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  groupList_->setMinimumContentsLength(kGroupNameChars);
  groupList_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  newGroupEdit_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  groupPanel_ = BuildGroupPanel(groupsBox_);

  auto* groupRow = new QHBoxLayout;
  groupRow->addWidget(removeGroupButton_);
  groupRow->addWidget(addGroupButton_);
  groupRow->addWidget(newGroupEdit_, 1);
  auto* layout = new QVBoxLayout(groupsBox_);
  layout->addLayout(groupRow);
  layout->addWidget(groupList_);
  layout->addWidget(groupPanel_);
  layout->addStretch(1);
  return groupsBox_;
}

QFrame* TFormSerSet::BuildGroupPanel(QWidget* parent) {
  auto* panel = Named(new QFrame(parent), "Panel1");
  QSizePolicy policy = panel->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  panel->setSizePolicy(policy);
  datafileLabel_ = Named(new QLabel(panel), "Label2");
  datafileEdit_ = Named(new QLineEdit(panel), "Edit3");
  datafileEdit_->setReadOnly(true);
  browseButton_ = Button(QString(), panel, "Button3");
  countLabel_ = Named(new QLabel(panel), "Label9");
  countEdit_ = Named(new QLineEdit(panel), "Edit4");
  countArcLabel_ = Named(new QLabel(panel), "Label3");
  countArcEdit_ = Named(new QLineEdit(panel), "Edit7");
  timeBeginLabel_ = Named(new QLabel(panel), "Label4");
  timeBeginEdit_ = Named(new QLineEdit(panel), "Edit5");
  timeEndLabel_ = Named(new QLabel(panel), "Label5");
  timeEndEdit_ = Named(new QLineEdit(panel), "Edit6");
  stepLabel_ = Named(new QLabel(panel), "Label6");
  stepList_ = Named(new QListWidget(panel), "ListBox1");
  stepList_->setFixedHeight(56);
  archiveLinkBox_ = Named(new QCheckBox(panel), "CheckBox6");
  archiveLinkBox_->setVisible(false);
  structureButton_ = Button(QString(), panel, "Button6");
  for (QLineEdit* e : {countEdit_, countArcEdit_, timeBeginEdit_, timeEndEdit_}) {
    e->setMaximumWidth(70);
  }

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(datafileEdit_, 1);
  fileRow->addWidget(browseButton_);
  auto* fields = new QFormLayout;
  fields->addRow(countLabel_, countEdit_);
  fields->addRow(countArcLabel_, countArcEdit_);
  fields->addRow(timeBeginLabel_, timeBeginEdit_);
  fields->addRow(timeEndLabel_, timeEndEdit_);
  fields->addRow(stepLabel_, stepList_);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(datafileLabel_);
  layout->addLayout(fileRow);
  layout->addLayout(fields);
  layout->addWidget(archiveLinkBox_);
  layout->addWidget(structureButton_);
  return panel;
}

QWidget* TFormSerSet::BuildUsersArea() {
  usersArea_ = new QWidget(this);
  usersLabel_ = Named(new QLabel(usersArea_), "Label7");
  removeUserButton_ = Button(QStringLiteral("-"), usersArea_, "Button5");
  addUserButton_ = Button(QStringLiteral("+"), usersArea_, "Button4");
  removeUserButton_->setFixedWidth(kSmallButtonWidth);
  addUserButton_->setFixedWidth(kSmallButtonWidth);
  userNameLabel_ = Named(new QLabel(usersArea_), "Label12");
  userNameEdit_ = Named(new QLineEdit(QStringLiteral("New User"), usersArea_), "Edit2");
  hostLabel_ = Named(new QLabel(usersArea_), "Label14");
  hostEdit_ = Named(new QLineEdit(QStringLiteral("NewHost"), usersArea_), "Edit9");
  usersGrid_ = Named(new QTableWidget(1, 2, usersArea_), "SGUsers");
  usersGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  usersGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  usersGrid_->setSelectionMode(QAbstractItemView::SingleSelection);
  usersGrid_->verticalHeader()->setVisible(false);
  const double scale = TFormQVServer::ScreenScale(*this);
  usersGrid_->verticalHeader()->setDefaultSectionSize(static_cast<int>(kGridRowHeight * scale));
  usersGrid_->setColumnWidth(0, static_cast<int>(kGridNameWidth * scale));
  usersGrid_->setColumnWidth(1, static_cast<int>(kGridHostWidth * scale));
  usersGrid_->horizontalHeader()->setStretchLastSection(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(usersLabel_, 1);
  buttons->addWidget(removeUserButton_);
  buttons->addWidget(addUserButton_);
  auto* newUser = new QFormLayout;
  newUser->addRow(userNameLabel_, userNameEdit_);
  newUser->addRow(hostLabel_, hostEdit_);
  auto* layout = new QVBoxLayout(usersArea_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(buttons);
  layout->addLayout(newUser);
  layout->addWidget(usersGrid_, 1);
  return usersArea_;
}

QGroupBox* TFormSerSet::BuildLanguageBox() {
  languageBox_ = Named(new QGroupBox(this), "Label15");
  languageList_ = Named(new QListWidget(languageBox_), "ListBox2");
  languageList_->setFixedHeight(44);
  auto* layout = new QVBoxLayout(languageBox_);
  layout->addWidget(languageList_);
  return languageBox_;
}

QGroupBox* TFormSerSet::BuildNetworkBox() {
  networkBox_ = Named(new QGroupBox(this), "Label8");
  portLabel_ = Named(new QLabel(networkBox_), "Label1");
  portEdit_ = Named(new QLineEdit(networkBox_), "Edit17");
  portEdit_->setMinimumWidth(60);
  portEdit_->setMaximumWidth(80);
  port2Label_ = Named(new QLabel(networkBox_), "lbPort2");
  directSendBox_ = Named(new QCheckBox(networkBox_), "CheckBox1");
  noDelayBox_ = Named(new QCheckBox(networkBox_), "cbTCPNoDelay");
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(portLabel_);
  portRow->addWidget(portEdit_);
  portRow->addWidget(port2Label_, 1);
  feedPortLabel_ = Named(new QLabel(networkBox_), "LabelFeedPort");
  feedPortEdit_ = Named(new QLineEdit(networkBox_), "EditFeedPort");
  feedPortEdit_->setMinimumWidth(60);
  feedPortEdit_->setMaximumWidth(80);
  feedAddressLabel_ = Named(new QLabel(networkBox_), "LabelFeedAddress");
  feedAddressEdit_ = Named(new QLineEdit(networkBox_), "EditFeedAddress");
  feedAddressEdit_->setPlaceholderText(QStringLiteral("127.0.0.1"));
  // A dotted address is readable whole: at least "255.255.255.255" wide.
  feedAddressEdit_->setMinimumWidth(
      feedAddressEdit_->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255  ")));
  auto* feedRow = new QGridLayout;
  feedRow->addWidget(feedPortLabel_, 0, 0);
  feedRow->addWidget(feedPortEdit_, 0, 1, Qt::AlignLeft);
  feedRow->addWidget(feedAddressLabel_, 1, 0);
  feedRow->addWidget(feedAddressEdit_, 1, 1);
  auto* layout = new QVBoxLayout(networkBox_);
  layout->addLayout(portRow);
  layout->addWidget(directSendBox_);
  layout->addWidget(noDelayBox_);
  layout->addLayout(feedRow);
  return networkBox_;
}

void TFormSerSet::SetCaptions() {
  groupsBox_->setTitle(Msg(wire::MsgId::GroupsBox));
  datafileLabel_->setText(Msg(wire::MsgId::DatafileLabel));
  browseButton_->setText(Msg(wire::MsgId::BrowseButton));
  countLabel_->setText(Msg(wire::MsgId::TotalRecords));
  countArcLabel_->setText(Msg(wire::MsgId::TotalArchiveRecords));
  timeBeginLabel_->setText(Msg(wire::MsgId::StartingTime));
  timeEndLabel_->setText(Msg(wire::MsgId::FinishingTime));
  stepLabel_->setText(Msg(wire::MsgId::StepLabel));
  stepList_->addItems({QStringLiteral("1 ") + Msg(wire::MsgId::Hour),
                       QStringLiteral("2 ") + Msg(wire::MsgId::Hours),
                       QStringLiteral("3 ") + Msg(wire::MsgId::Hours)});
  archiveLinkBox_->setText(Msg(wire::MsgId::AutoArchive));
  structureButton_->setText(Msg(wire::MsgId::StructureButton));
  usersLabel_->setText(Msg(wire::MsgId::UsersInGroup));
  userNameLabel_->setText(Msg(wire::MsgId::UserNameHeader));
  hostLabel_->setText(Msg(wire::MsgId::HostNameHeader));
  usersGrid_->setHorizontalHeaderLabels(
      {Msg(wire::MsgId::UserNameHeader), Msg(wire::MsgId::HostNameHeader)});
  languageBox_->setTitle(Msg(wire::MsgId::LanguageBox));
  languageList_->addItems({Msg(wire::MsgId::English), Msg(wire::MsgId::Russian)});
  networkBox_->setTitle(Msg(wire::MsgId::NetworkBox));
  portLabel_->setText(Msg(wire::MsgId::PortLabel));
  directSendBox_->setText(Msg(wire::MsgId::DirectSending));
  noDelayBox_->setText(Msg(wire::MsgId::TcpNoDelay));
  feedPortLabel_->setText(UiText(texts_, DesktopText::FeedPortLabel));
  feedAddressLabel_->setText(UiText(texts_, DesktopText::FeedAddressLabel));
  feedPortEdit_->setPlaceholderText(UiText(texts_, DesktopText::FeedPortOff));
}

void TFormSerSet::InstallFilters() {
  const auto beep = [this] { services_.Beep(); };
  const auto digitsOnly = [](const QKeyEvent& key) {
    if (!IsCharacterKey(key)) return true;
    const QString text = key.text();
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QChar('0') && c <= QChar('9'); });
  };
  // The key filter beeps at a typed non-digit; the validator also governs paste and drop.
  const std::pair<QLineEdit*, config::NumberRange> numberFields[] = {
      {countEdit_, config::kDayCountRange}, {countArcEdit_, config::kDayCountRange},
      {timeBeginEdit_, config::kHourRange}, {timeEndEdit_, config::kHourRange},
      {portEdit_, config::kPortRange},      {feedPortEdit_, config::kFeedPortRange}};
  for (const auto& [edit, range] : numberFields) {
    edit->installEventFilter(new KeyFilter(edit, digitsOnly, beep));
    edit->setValidator(new NumberValidator(range, edit));
  }
  const auto noColon = [](const QKeyEvent& key) {
    return !IsCharacterKey(key) || !key.text().contains(QChar(':'));
  };
  for (QLineEdit* edit : {userNameEdit_, hostEdit_}) {
    edit->installEventFilter(new KeyFilter(edit, noColon, beep));
  }
  // The grid is not edited directly: a character in the name column is refused; in the host
  // column ':' is refused and every character counts as a change.
  usersGrid_->installEventFilter(new KeyFilter(
      usersGrid_,
      [this](const QKeyEvent& key) {
        if (!IsCharacterKey(key)) return true;
        if (usersGrid_->currentColumn() <= 0) return false;
        model_.HostCellKeyPressed();
        return !key.text().contains(QChar(':'));
      },
      beep));
  // Installed last, so it sees Ctrl+Tab before the filter above.
  usersGrid_->installEventFilter(new GridCellKeys(usersGrid_));
}

void TFormSerSet::Connect() {
  connect(newGroupEdit_, &QLineEdit::textEdited, this, [this] {
    model_.GroupNameEdited();
    ShowModel();
  });
  // Enter in the new-group field adds the group, as "+" would.
  connect(newGroupEdit_, &QLineEdit::returnPressed, this, [this] {
    if (addGroupButton_->isEnabled()) addGroupButton_->click();
  });
  connect(addGroupButton_, &QPushButton::clicked, this, [this] {
    model_.KeepGrid();
    model_.AddGroup(ToAnsi(newGroupEdit_->text()));
    ShowModel();
  });
  connect(removeGroupButton_, &QPushButton::clicked, this, [this] {
    model_.RemoveGroup();
    ShowModel();
  });
  connect(groupList_, &QComboBox::activated, this, [this](int index) {
    model_.SelectGroup(index);
    ShowModel();
  });
  connect(countEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetCount(t.toStdString()); });
  connect(countArcEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetCountArc(t.toStdString()); });
  connect(timeBeginEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetTimeBegin(t.toStdString()); });
  connect(timeEndEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetTimeEnd(t.toStdString()); });
  connect(stepList_, &QListWidget::currentRowChanged, this,
          [this](int row) { model_.SetStep(row); });
  connect(archiveLinkBox_, &QCheckBox::clicked, this,
          [this](bool on) { model_.SetArchiveLink(on); });
  connect(browseButton_, &QPushButton::clicked, this, [this] { ChooseDatafile(); });
  connect(structureButton_, &QPushButton::clicked, this, [this] { OpenStructure(); });
  connect(addUserButton_, &QPushButton::clicked, this, [this] { AddUser(); });
  connect(removeUserButton_, &QPushButton::clicked, this, [this] {
    model_.RemoveUser(std::max(usersGrid_->currentRow(), 0));
    ShowGrid();
  });
  connect(portEdit_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.SetPort(t.toStdString());
    port2Label_->setText(Port2Text());
  });
  connect(feedPortEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetFeedPort(t.toStdString()); });
  connect(feedAddressEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.SetFeedAddress(t.toStdString()); });
  connect(languageList_, &QListWidget::currentRowChanged, this,
          [this](int row) { model_.SetLanguage(row); });
  connect(directSendBox_, &QCheckBox::clicked, this, [this](bool on) { model_.SetDirectSend(on); });
  connect(noDelayBox_, &QCheckBox::clicked, this, [this](bool on) { model_.SetTcpNoDelay(on); });
}

void TFormSerSet::ShowModel() {
  const QSignalBlocker b1(groupList_), b2(stepList_), b3(languageList_), b4(archiveLinkBox_);
  const QSignalBlocker b5(directSendBox_), b6(noDelayBox_);
  QStringList names;
  for (const std::string& name : model_.GroupNames()) names << FromAnsi(name);
  QStringList shown;
  for (int i = 0; i < groupList_->count(); ++i) shown << groupList_->itemText(i);
  if (names != shown) {
    groupList_->clear();
    groupList_->addItems(names);
    for (int i = 0; i < names.size(); ++i) groupList_->setItemData(i, names[i], Qt::ToolTipRole);
  }
  groupList_->setCurrentIndex(model_.CurrentGroup());
  groupList_->setToolTip(groupList_->currentText());
  groupPanel_->setVisible(model_.PanelVisible());
  // Users belong to the current group: without one, users typed there would go nowhere.
  usersArea_->setEnabled(model_.PanelVisible());
  addGroupButton_->setEnabled(model_.AddGroupEnabled());
  removeGroupButton_->setEnabled(model_.RemoveGroupEnabled());

  const config::TMyDBAlias& fields = model_.Shown();
  SetTextIfDifferent(*datafileEdit_, FromPath(model_.DatafileDisplay()));
  SetTextIfDifferent(*countEdit_, QString::fromStdString(fields.Count));
  SetTextIfDifferent(*countArcEdit_, QString::fromStdString(fields.CountArc));
  SetTextIfDifferent(*timeBeginEdit_, QString::fromStdString(fields.TimeBegin));
  SetTextIfDifferent(*timeEndEdit_, QString::fromStdString(fields.TimeEnd));
  stepList_->setCurrentRow(fields.Step >= 0 && fields.Step < stepList_->count() ? fields.Step : -1);
  archiveLinkBox_->setChecked(fields.ArchiveLink);
  structureButton_->setEnabled(model_.StructureEnabled());

  languageList_->setCurrentRow(model_.Language() >= 0 && model_.Language() < languageList_->count()
                                   ? model_.Language()
                                   : -1);
  SetTextIfDifferent(*portEdit_, QString::fromStdString(model_.Port()));
  port2Label_->setText(Port2Text());
  directSendBox_->setChecked(model_.DirectSend());
  noDelayBox_->setChecked(model_.TcpNoDelay());
  SetTextIfDifferent(*feedPortEdit_, QString::fromStdString(model_.FeedPort()));
  SetTextIfDifferent(*feedAddressEdit_, QString::fromStdString(model_.FeedAddress()));
  ShowGrid();
}

void TFormSerSet::ShowGrid() {
  const int row = usersGrid_->currentRow();
  const auto& grid = model_.Grid();
  usersGrid_->setRowCount(static_cast<int>(grid.size()));
  for (int r = 0; r < static_cast<int>(grid.size()); ++r) {
    const config::SettingsUser& user = grid[static_cast<size_t>(r)];
    // Cells elide what does not fit; the tool tip shows it whole.
    for (const auto& [column, text] :
         {std::pair{0, FromAnsi(user.UserName)}, std::pair{1, FromAnsi(user.HostName)}}) {
      auto* item = new QTableWidgetItem(text);
      item->setToolTip(text);
      usersGrid_->setItem(r, column, item);
    }
  }
  usersGrid_->setCurrentCell(std::clamp(row, 0, usersGrid_->rowCount() - 1), 0);
}

void TFormSerSet::AddUser() {
  std::string host = ToAnsi(hostEdit_->text());
  const config::AddUserResult result = model_.AddUser(ToAnsi(userNameEdit_->text()), host);
  SetTextIfDifferent(*hostEdit_, FromAnsi(host));
  switch (result) {
    case config::AddUserResult::DuplicateUserName:
      services_.Warn(this, Msg(wire::MsgId::WarningCaption), Msg(wire::MsgId::UserExists));
      break;
    case config::AddUserResult::DuplicateHost:
      services_.Warn(this, Msg(wire::MsgId::WarningCaption), Msg(wire::MsgId::AddressExists));
      break;
    case config::AddUserResult::Added:
      ShowGrid();
      usersGrid_->setCurrentCell(usersGrid_->rowCount() - 1, 0);
      break;
    case config::AddUserResult::Ignored:
      break;
  }
}

void TFormSerSet::ChooseDatafile() {
  // Opens in the folder of the current datafile, when it has one.
  const std::string current = model_.DatafilePath();
  const size_t slash = current.rfind('/');
  const QString folder =
      slash == std::string::npos ? QString() : FromPath(current.substr(0, slash + 1));
  const QString chosen =
      services_.ChooseFileToOpen(this, UiText(texts_, DesktopText::ChooseDatafileCaption), folder,
                                 QString::fromLatin1(kDatafileFilter));
  if (chosen.isEmpty()) return;
  const std::string name = config::SettingsModel::WithDatafileExtension(ToPath(chosen));
  if (config::SettingsModel::IsReservedDatafileName(name)) {
    services_.Error(this, Msg(wire::MsgId::ErrorCaption),
                    UiText(texts_, DesktopText::ReservedDatafileName).arg(FromPath(name)));
    return;
  }
  try {
    model_.ChooseDatafile(ToPath(chosen));
  } catch (const std::exception& e) {
    services_.Error(this, Msg(wire::MsgId::ErrorCaption), QString::fromLocal8Bit(e.what()));
  }
  ShowModel();
}

void TFormSerSet::OpenStructure() {
  const std::string path = model_.DatafilePath();
  if (path.empty() || !platform::FileExists(path)) return;
  const std::optional<int32_t> maxArchive = model_.StructureMaxArchive();
  if (!maxArchive) {
    services_.Error(this, Msg(wire::MsgId::ErrorCaption),
                    UiText(texts_, DesktopText::InvalidArchiveSize));
    return;
  }
  TFormBrowser browser(path, *maxArchive, texts_, services_, platform::Now(), this);
  browser.SetBeforeRewrite(beforeRestructure_);
  browser.SetLog(log_);
  if (!browser.Ready()) {
    services_.Error(this, Msg(wire::MsgId::ErrorCaption), browser.SetupError());
    return;
  }
  services_.RunModal(browser);
}

bool TFormSerSet::HasUnsavedEdits() const {
  return model_.ShouldAskToSave();
}

void TFormSerSet::reject() {
  close();
}

QString TFormSerSet::Port2Text() const {
  const std::string& label = model_.Port2Label();
  if (label == "port 2") return UiText(texts_, DesktopText::Port2Caption);
  return QString::fromStdString(label);
}

QString TFormSerSet::ProblemText(const config::SettingsCheck& check) const {
  const auto groupText = [&](DesktopText text) {
    const auto& names = model_.GroupNames();
    const QString name = check.Group >= 0 && static_cast<size_t>(check.Group) < names.size()
                             ? FromAnsi(names[static_cast<size_t>(check.Group)])
                             : QString();
    return UiText(texts_, text).arg(name);
  };
  switch (check.Problem) {
    case config::SettingsProblem::Port:
      return UiText(texts_, DesktopText::InvalidPort);
    case config::SettingsProblem::FeedPort:
      return UiText(texts_, DesktopText::InvalidFeedPort);
    case config::SettingsProblem::FeedAddress:
      return UiText(texts_, DesktopText::InvalidFeedAddress);
    case config::SettingsProblem::Count:
      return groupText(DesktopText::InvalidCount);
    case config::SettingsProblem::CountArc:
      return groupText(DesktopText::InvalidCountArc);
    case config::SettingsProblem::TimeBegin:
      return groupText(DesktopText::InvalidTimeBegin);
    case config::SettingsProblem::TimeEnd:
      return groupText(DesktopText::InvalidTimeEnd);
    case config::SettingsProblem::None:
      break;
  }
  return {};
}

// Shows the field a refused save points at: its group is selected and the field focused.
void TFormSerSet::ShowProblem(const config::SettingsCheck& check) {
  if (check.Group >= 0) {
    model_.SelectGroup(check.Group);
    ShowModel();
  }
  QLineEdit* field = nullptr;
  switch (check.Problem) {
    case config::SettingsProblem::Port:
      field = portEdit_;
      break;
    case config::SettingsProblem::FeedPort:
      field = feedPortEdit_;
      break;
    case config::SettingsProblem::FeedAddress:
      field = feedAddressEdit_;
      break;
    case config::SettingsProblem::Count:
      field = countEdit_;
      break;
    case config::SettingsProblem::CountArc:
      field = countArcEdit_;
      break;
    case config::SettingsProblem::TimeBegin:
      field = timeBeginEdit_;
      break;
    case config::SettingsProblem::TimeEnd:
      field = timeEndEdit_;
      break;
    case config::SettingsProblem::None:
      break;
  }
  services_.Error(this, UiText(texts_, DesktopText::NotSaved), ProblemText(check));
  if (field != nullptr) field->setFocus();
}

void TFormSerSet::closeEvent(QCloseEvent* event) {
  model_.KeepGrid();
  if (!dropEdits_ && model_.ShouldAskToSave() &&
      services_.AskYesNo(this, Msg(wire::MsgId::WarningCaption), Msg(wire::MsgId::SaveChanges))) {
    // What the next start would refuse is not saved: the dialog stays open to correct it.
    const config::SettingsCheck check = model_.CheckBeforeSave();
    if (!check.Ok() && !dropEdits_) {
      ShowProblem(check);
      event->ignore();
      return;
    }
    try {
      model_.Save();
      services_.Warn(this, Msg(wire::MsgId::WarningCaption), Msg(wire::MsgId::ChangesAfterRestart));
    } catch (const std::exception& e) {
      services_.Error(this, Msg(wire::MsgId::ErrorCaption), QString::fromLocal8Bit(e.what()));
    }
  }
  event->accept();
}

}  // namespace qv::desktop
