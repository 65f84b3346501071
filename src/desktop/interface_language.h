#pragma once
// Qt's own texts (the buttons of message boxes, the file chooser, the calendar pop-up) and the
// date formats follow the language the server's interface uses.
#include <QTranslator>
#include <memory>

#include "state/catalogue.h"

namespace qv::desktop {

// For Russian: the default locale becomes Russian and Qt's Russian translation is installed;
// the returned translator must outlive its use (removed when destroyed). Nothing for English,
// or when the translation is not installed.
std::unique_ptr<QTranslator> UseInterfaceLanguage(state::Language language);

}  // namespace qv::desktop
