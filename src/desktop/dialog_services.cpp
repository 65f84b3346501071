#include "desktop/dialog_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace qv::desktop {

void QtDialogServices::Beep() {
  QApplication::beep();
}

void QtDialogServices::Warn(QWidget* parent, const QString& caption, const QString& text) {
  if (stopping_) return;
  QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

void QtDialogServices::Error(QWidget* parent, const QString& caption, const QString& text) {
  if (stopping_) return;
  QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
}

bool QtDialogServices::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  if (stopping_) return false;
  const auto answer =
      QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No);
  return !stopping_ && answer == QMessageBox::Yes;
}

QString QtDialogServices::ChooseFileToOpen(QWidget* parent, const QString& caption,
                                           const QString& folder, const QString& filter) {
  if (stopping_) return {};
  // Not limited to existing files: a new name makes a new, empty datafile. Qt's own dialog, so
  // that its texts come from Qt's translations in the interface language.
  QFileDialog dialog(parent, caption, folder, filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const int result = dialog.exec();
  if (stopping_ || result != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void QtDialogServices::RunModal(QDialog& dialog) {
  if (stopping_) return;
  dialog.exec();
}

int CloseModalDialogs() {
  int closed = 0;
  if (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
    ++closed;
  }
  // Every window counts here, message boxes and file choosers with a parent included.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog != nullptr && dialog->isVisible() && dialog->isModal()) {
      dialog->done(QDialog::Rejected);
      ++closed;
    }
  }
  return closed;
}

}  // namespace qv::desktop
