#include "desktop/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include "desktop/text.h"

namespace qv::desktop {

int LogsView::LineCount() const {
  if (edit_.document()->isEmpty()) return 0;
  return edit_.document()->blockCount();
}

bool LogsView::DeleteLastLine() {
  QTextDocument* doc = edit_.document();
  if (doc->isEmpty()) return false;
  QTextCursor cursor(doc->lastBlock());
  cursor.select(QTextCursor::BlockUnderCursor);  // takes the line break before it too
  cursor.removeSelectedText();
  if (doc->blockCount() == 1 && doc->firstBlock().text().isEmpty()) doc->clear();
  return true;
}

void LogsView::BeginUpdate() {
  edit_.setUpdatesEnabled(false);
}

void LogsView::EndUpdate() {
  edit_.setUpdatesEnabled(true);
}

void LogsView::InsertAtTop(const std::string& text) {
  QString lines = FromAnsi(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QChar('\r'), QChar('\n'));
  QTextDocument* doc = edit_.document();
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::Start);
  cursor.insertText(doc->isEmpty() ? lines : lines + QChar('\n'));
  edit_.verticalScrollBar()->setValue(0);
}

double TFormQVServer::ScreenScale(const QWidget& widget) {
  const QScreen* screen =
      widget.screen() != nullptr ? widget.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1.0;
  const double dpi = screen->logicalDotsPerInch();
  return dpi > 0 ? dpi / 96.0 : 1.0;
}

TFormQVServer::TFormQVServer() : QWidget(nullptr), view_(*(logs_ = new QPlainTextEdit(this))) {
  setObjectName(QStringLiteral("FormQVServer"));
  setWindowTitle(QStringLiteral("Quorvane Server"));

  const double scale = ScreenScale(*this);
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  // At least the design width; wider when the count's caption needs it (it never wraps). The
  // design width goes on the button: a minimum set on the panel itself would override what its
  // layout needs, and the log would then cover the count at the window's minimum width.
  panel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
  button1_ = new QPushButton(QStringLiteral("Settings"), panel);
  button1_->setObjectName(QStringLiteral("Button1"));
  label1_ = new QLabel(QStringLiteral("Connections: 0"), panel);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setWordWrap(false);
  constexpr int kPanelMargin = 6;
  button1_->setMinimumWidth(static_cast<int>(kPanelWidth * scale) - 2 * kPanelMargin);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(kPanelMargin, kPanelMargin, kPanelMargin, kPanelMargin);
  panelLayout->addWidget(button1_);
  panelLayout->addWidget(label1_);
  panelLayout->addStretch(1);

  logs_->setObjectName(QStringLiteral("Logs"));
  logs_->setReadOnly(true);
  logs_->setLineWrapMode(QPlainTextEdit::NoWrap);
  logs_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(panel);
  layout->addWidget(logs_, 1);

  pmServer_ = new QMenu(this);
  pmServer_->setObjectName(QStringLiteral("PMServer"));
  show1_ = pmServer_->addAction(QStringLiteral("Show"));
  show1_->setObjectName(QStringLiteral("Show1"));
  show1_->setCheckable(true);
  show1_->setChecked(true);
  QObject::connect(show1_, &QAction::triggered, this, [this] { ToggleShown(); });
  QObject::connect(button1_, &QPushButton::clicked, this, [this] {
    if (onSettings_) onSettings_();
  });

  resize(static_cast<int>(kDesignWidth * scale), static_cast<int>(kDesignHeight * scale));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void TFormQVServer::ToggleShown() {
  setVisible(!isVisible());
  show1_->setChecked(isVisible());
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

void TFormQVServer::closeEvent(QCloseEvent* event) {
  event->accept();
  if (onClose_) {
    auto handler = std::move(onClose_);
    onClose_ = nullptr;
    handler();
  }
}

}  // namespace qv::desktop
