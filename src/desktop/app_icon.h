#pragma once
#include <QIcon>

namespace qv::desktop {

// The server's window and tray icon, drawn at start: a calendar page.
QIcon MakeAppIcon();

}  // namespace qv::desktop
