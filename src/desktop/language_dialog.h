#pragma once
// "Main Language": the first-run choice of the character set, and with it the catalogue
// language (Russian for code 4, English otherwise).
#include <QDialog>
#include <QListWidget>
#include <cstdint>

namespace qv::desktop {

class LanguageDialog final : public QDialog {
 public:
  static constexpr uint8_t kNoSelectionCode = 5;
  explicit LanguageDialog(QWidget* parent = nullptr);
  QListWidget& List() { return *list_; }
  // Code of the selected entry; 5 without a selection.
  uint8_t Code() const;

 private:
  QListWidget* list_;
};

// Shows the dialog modally and returns the chosen code.
uint8_t ChooseLanguage();

}  // namespace qv::desktop
