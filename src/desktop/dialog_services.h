#pragma once
// What the dialogs ask of the desktop beyond their own widgets: beeps, message boxes, the file
// chooser and modal runs. Tests put a recording stand-in in its place.
#include <QDialog>
#include <QString>
#include <QWidget>

namespace qv::desktop {

class DialogServices {
 public:
  virtual ~DialogServices() = default;
  virtual void Beep() = 0;
  // A box with an OK button.
  virtual void Warn(QWidget* parent, const QString& caption, const QString& text) = 0;
  virtual void Error(QWidget* parent, const QString& caption, const QString& text) = 0;
  // A Yes/No box; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  // File-open dialog; empty when cancelled.
  virtual QString ChooseFileToOpen(QWidget* parent, const QString& filter) = 0;
  virtual void RunModal(QDialog& dialog) = 0;
};

class QtDialogServices final : public DialogServices {
 public:
  void Beep() override;
  void Warn(QWidget* parent, const QString& caption, const QString& text) override;
  void Error(QWidget* parent, const QString& caption, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
  QString ChooseFileToOpen(QWidget* parent, const QString& filter) override;
  void RunModal(QDialog& dialog) override;
};

}  // namespace qv::desktop
