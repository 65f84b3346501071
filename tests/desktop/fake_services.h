#pragma once
// Records what a dialog shows instead of showing it, and answers as the test says.
#include <QDialog>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "desktop/dialog_services.h"

namespace qv::desktop {

struct FakeServices final : DialogServices {
  struct Box {
    QString caption;
    QString text;
  };
  void Beep() override { ++beeps; }
  void Warn(QWidget*, const QString& caption, const QString& text) override {
    warnings.push_back({caption, text});
  }
  void Error(QWidget*, const QString& caption, const QString& text) override {
    errors.push_back({caption, text});
  }
  bool AskYesNo(QWidget*, const QString& caption, const QString& text) override {
    questions.push_back({caption, text});
    return answerYes;
  }
  QString ChooseFileToOpen(QWidget*, const QString&, const QString& folder,
                           const QString& filter) override {
    lastFilter = filter;
    lastFolder = folder;
    return chosenFile;
  }
  void RunModal(QDialog& dialog) override {
    ++modalRuns;
    if (onModal) onModal(dialog);
  }

  int beeps = 0;
  std::vector<Box> warnings;
  std::vector<Box> errors;
  std::vector<Box> questions;
  bool answerYes = true;
  QString chosenFile;
  QString lastFilter;
  QString lastFolder;
  int modalRuns = 0;
  std::function<void(QDialog&)> onModal;
};

}  // namespace qv::desktop
