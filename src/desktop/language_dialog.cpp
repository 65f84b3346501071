#include "desktop/language_dialog.h"

#include <QPushButton>
#include <array>
#include <utility>

namespace qv::desktop {
namespace {

constexpr std::array<std::pair<const char*, uint8_t>, 10> kEntries = {{
    {"English", 5},
    {"Russian", 4},
    {"Central European", 3},
    {"Arabic", 9},
    {"Baltic", 10},
    {"Greek", 6},
    {"Jewish", 8},
    {"Turkish", 7},
    {"Vietnamese", 11},
    {"Western European", 5},
}};

constexpr int kListLeft = 8, kListTop = 6, kListWidth = 150, kListHeight = 140;
constexpr int kButtonHeight = 24, kButtonGap = 20;

}  // namespace

LanguageDialog::LanguageDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Main Language"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("ListBox"));
  for (const auto& [name, code] : kEntries) list_->addItem(QString::fromLatin1(name));
  list_->setCurrentRow(0);
  list_->setGeometry(kListLeft, kListTop, kListWidth, kListHeight);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OK"));
  const int buttonTop = kListTop + kListHeight + kButtonGap;
  ok->setGeometry(kListLeft, buttonTop, kListWidth, kButtonHeight);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  setFixedSize(kListLeft + kListWidth + 13, buttonTop + kButtonHeight + 10);
}

uint8_t LanguageDialog::Code() const {
  const int row = list_->currentRow();
  const auto selected = list_->selectedItems();
  if (row < 0 || row >= static_cast<int>(kEntries.size()) || selected.isEmpty()) {
    return kNoSelectionCode;
  }
  return kEntries[static_cast<size_t>(row)].second;
}

uint8_t ChooseLanguage() {
  LanguageDialog dialog;
  dialog.exec();
  return dialog.Code();
}

}  // namespace qv::desktop
