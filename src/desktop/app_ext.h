#pragma once
// TmyAppExt: the server's icon in the system tray, its hint and its popup menu. One per
// application object (recognised by its own class among the owner's children); where the
// desktop has no tray the program runs without it.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

namespace qv::desktop {

class TmyAppExt final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxHintLength = 63;

  // owner: the application object. Throws std::logic_error "Duplicated myAppExt component"
  // when the owner already has a TmyAppExt (other children do not count).
  explicit TmyAppExt(QObject* owner);
  ~TmyAppExt() override;

  static bool TrayAvailable();

  bool TrayIconActive() const { return active_; }
  void SetTrayIconActive(bool active);
  // How many times the icon was put into and taken out of the tray.
  int TimesAdded() const { return added_; }
  int TimesRemoved() const { return removed_; }

  QString TrayHint() const { return hint_; }
  void SetTrayHint(const QString& hint);  // at most 63 characters are kept

  QIcon TrayIcon() const { return icon_; }
  void SetTrayIcon(const QIcon& icon);  // empty: the application's window icon

  QMenu* TrayPopup() const { return popup_; }
  void SetTrayPopup(QMenu* menu);

  void SetOnTrayDefault(std::function<void(TmyAppExt&)> handler) {
    onTrayDefault_ = std::move(handler);
  }

  QString Title() const;
  void SetTitle(const QString& title);

  // Double click: OnTrayDefault.
  void HandleActivation(QSystemTrayIcon::ActivationReason reason);

 private:
  void ApplyIcon();

  QSystemTrayIcon* tray_;
  bool active_ = false;
  int added_ = 0;
  int removed_ = 0;
  QString hint_ = QStringLiteral("Tip");
  QIcon icon_;
  QPointer<QMenu> popup_;
  QMetaObject::Connection popupDestroyed_;
  std::function<void(TmyAppExt&)> onTrayDefault_;
};

}  // namespace qv::desktop
