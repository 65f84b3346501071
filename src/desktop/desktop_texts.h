#pragma once
// Log lines of the desktop program that the catalogue has no entry for, in the catalogue's
// current language and, like every log text, in Windows-1251 bytes.
#include <string>

#include "state/catalogue.h"

namespace qv::desktop {

enum class DesktopText {
  NoSystemTray,        // the desktop has no notification area
  EditsDroppedAtStop,  // the program stopped while a dialog held unsaved edits
};

std::string Text(const Catalogue& catalogue, DesktopText text);

}  // namespace qv::desktop
