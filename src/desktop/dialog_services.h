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
  // File-open dialog starting in folder (the working folder when empty); empty when cancelled.
  virtual QString ChooseFileToOpen(QWidget* parent, const QString& caption, const QString& folder,
                                   const QString& filter) = 0;
  virtual void RunModal(QDialog& dialog) = 0;
};

// The real boxes. Once the program stops, no box is shown any more, every question is
// answered No and every file choice is cancelled, whatever the box still open returns.
class QtDialogServices final : public DialogServices {
 public:
  void Beep() override;
  void Warn(QWidget* parent, const QString& caption, const QString& text) override;
  void Error(QWidget* parent, const QString& caption, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
  QString ChooseFileToOpen(QWidget* parent, const QString& caption, const QString& folder,
                           const QString& filter) override;
  void RunModal(QDialog& dialog) override;

  void Stop() { stopping_ = true; }
  bool Stopping() const { return stopping_; }

 private:
  bool stopping_ = false;
};

// Closes (rejects) every modal dialog and message box that is open, and an open popup menu. Their
// nested loops return once the caller is back in the event loop. Returns how many were closed.
int CloseModalDialogs();

}  // namespace qv::desktop
