#pragma once
// The child side of the stop tests: test_desktop started with kStopChildFlag runs the desktop
// program with one scenario's dialogs open instead of the tests.
#include <string>

namespace qv::desktop {

inline constexpr char kStopChildFlag[] = "--stop-child";

// Runs the program in dir with the scenario's scene; returns its exit status.
int RunStopChild(int signalFd, const std::string& scenario, const std::string& dir);

}  // namespace qv::desktop
