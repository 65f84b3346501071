#pragma once
// The desktop program from its QApplication on: the single-instance check (machine-wide, or of its
// --dir), the server with its window and tray until the main window closes or a stop arrives.
// Returns the exit status: 0 after a normal stop, 1 when another server runs, 2 when the server
// could not start.
#include <functional>
#include <string>

#include "core/server_location.h"
#include "desktop/desktop_app.h"

namespace qv::desktop {

// signalFd: SIGINT/SIGTERM as a descriptor (-1: none). prepare runs before the event loop.
int RunDesktopProgram(int signalFd, const core::ServerLocation& location,
                      const std::function<void(DesktopApp&)>& prepare = {});

}  // namespace qv::desktop
