#include "desktop/app_ext.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <stdexcept>

namespace qv::desktop {

TmyAppExt::TmyAppExt(QObject* owner) : QObject(nullptr) {
  // The owner's children tell whether it already has one: no state outside the objects. The
  // lookup casts through the meta-object, so only a TmyAppExt matches.
  if (owner != nullptr && owner->findChild<TmyAppExt*>(QString(), Qt::FindDirectChildrenOnly)) {
    throw std::logic_error("Duplicated myAppExt component");
  }
  setParent(owner);
  setObjectName(QStringLiteral("myAppExt"));
  tray_ = new QSystemTrayIcon(this);
  tray_->setToolTip(hint_);
  ApplyIcon();
  connect(tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { HandleActivation(reason); });
}

TmyAppExt::~TmyAppExt() {
  if (popupDestroyed_) disconnect(popupDestroyed_);
  SetTrayIconActive(false);
}

bool TmyAppExt::TrayAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TmyAppExt::SetTrayIconActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active) {
    tray_->show();
    ++added_;
  } else {
    tray_->hide();
    ++removed_;
  }
}

void TmyAppExt::SetTrayHint(const QString& hint) {
  hint_ = hint.left(kMaxHintLength);
  tray_->setToolTip(hint_);
}

void TmyAppExt::SetTrayIcon(const QIcon& icon) {
  icon_ = icon;
  ApplyIcon();
}

void TmyAppExt::ApplyIcon() {
  tray_->setIcon(icon_.isNull() ? QApplication::windowIcon() : icon_);
}

void TmyAppExt::SetTrayPopup(QMenu* menu) {
  if (menu == popup_) return;
  if (popupDestroyed_) disconnect(popupDestroyed_);
  popup_ = menu;
  // The tray shows the menu on a right-button press itself (some trays deliver no press).
  tray_->setContextMenu(menu);
  if (menu != nullptr) {
    popupDestroyed_ = connect(menu, &QObject::destroyed, this, [this] {
      popup_ = nullptr;
      tray_->setContextMenu(nullptr);
    });
  }
}

QString TmyAppExt::Title() const {
  return QGuiApplication::applicationDisplayName();
}

void TmyAppExt::SetTitle(const QString& title) {
  QGuiApplication::setApplicationDisplayName(title);
}

void TmyAppExt::HandleActivation(QSystemTrayIcon::ActivationReason reason) {
  // A right-button press shows TrayPopup through the tray's context menu.
  if (reason == QSystemTrayIcon::DoubleClick && onTrayDefault_) {
    onTrayDefault_(*this);
  }
}

}  // namespace qv::desktop
