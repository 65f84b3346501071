#include "desktop/dialog_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace qv::desktop {

void QtDialogServices::Beep() {
  QApplication::beep();
}

void QtDialogServices::Warn(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

void QtDialogServices::Error(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
}

bool QtDialogServices::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

QString QtDialogServices::ChooseFileToOpen(QWidget* parent, const QString& filter) {
  // Not limited to existing files: a new name makes a new, empty datafile.
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void QtDialogServices::RunModal(QDialog& dialog) {
  dialog.exec();
}

}  // namespace qv::desktop
