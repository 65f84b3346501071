#include "desktop/interface_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace qv::desktop {

std::unique_ptr<QTranslator> UseInterfaceLanguage(state::Language language) {
  if (language != state::Language::Russian) return nullptr;
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  QLocale::setDefault(russian);
  auto translator = std::make_unique<QTranslator>();
  // qtbase_ru holds the texts of Qt's widgets (Debian: qt6-translations-l10n).
  if (!translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return nullptr;
  }
  QCoreApplication::installTranslator(translator.get());
  return translator;
}

}  // namespace qv::desktop
