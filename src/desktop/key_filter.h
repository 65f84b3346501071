#pragma once
// Refuses key strokes a field does not take (with a beep), as the dialogs' input filters do.
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <functional>

namespace qv::desktop {

class KeyFilter final : public QObject {
 public:
  // accept(event) returns false to refuse the key; refused keys call onRefused.
  KeyFilter(QObject* parent, std::function<bool(const QKeyEvent&)> accept,
            std::function<void()> onRefused)
      : QObject(parent), accept_(std::move(accept)), onRefused_(std::move(onRefused)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const auto& key = static_cast<const QKeyEvent&>(*event);
      if (!accept_(key)) {
        onRefused_();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<bool(const QKeyEvent&)> accept_;
  std::function<void()> onRefused_;
};

// A key that types a character. Navigation and editing keys (Tab, Backtab, Escape, Enter,
// arrows, Home/End, Backspace, Delete) and Ctrl/Alt shortcuts are not characters: the input
// filters let them pass.
inline bool IsCharacterKey(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = key.text();
  if (text.isEmpty()) return false;
  for (const QChar c : text) {
    if (!c.isPrint()) return false;  // \t, \r, \x1b, \b, \x7f: keys, not characters
  }
  return true;
}

}  // namespace qv::desktop
