#pragma once
// A private X display for the desktop end-to-end test: Xvfb on a free display number, the
// tray program trayer, and Xlib look-ups of the windows on it. Both programs are stopped when
// the session ends.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// A program started with posix_spawn; killed (SIGTERM, then SIGKILL) when destroyed.
class ChildProcess {
 public:
  // env: extra "NAME=value" entries; unsetEnv: names removed from the inherited environment.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::vector<std::string>& unsetEnv, const std::string& outputPath,
               int keepFd = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The raw wait status once the program has ended within the limit.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  void Stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Full path of a program found in PATH, empty when there is none.
std::string FindProgram(const std::string& name);

// Polls check() every 20 ms until it holds or the limit passes.
bool WaitFor(const std::function<bool()>& check, std::chrono::milliseconds limit);

class X11Session {
 public:
  // Starts Xvfb and (withTray) trayer; throws std::runtime_error saying what is missing or
  // failed.
  explicit X11Session(bool withTray = true);
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  // Starts trayer (when it is not running) and waits until it holds the tray selection.
  void StartTray();
  const std::string& DisplayName() const { return displayName_; }
  Display* Dpy() const { return display_; }

  // Every window below the root, depth first.
  std::vector<Window> AllWindows() const;
  std::string Name(Window window) const;
  std::string Class(Window window) const;  // WM_CLASS class part
  bool Viewable(Window window) const;
  bool OverrideRedirect(Window window) const;
  Window Parent(Window window) const;
  // Position of the window's top-left corner on the screen.
  std::pair<int, int> ScreenPosition(Window window) const;
  std::pair<int, int> Size(Window window) const;
  // The top-level window of trayer that docks the icons.
  std::optional<Window> TrayPanel() const;
  bool Inside(Window window, Window ancestor) const;
  // Asks the window to close as a window manager would (WM_DELETE_WINDOW).
  void RequestClose(Window window) const;
  // Real input through xdotool: a click of button at (x, y) on the screen.
  bool Click(int x, int y, int button) const;

 private:
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ChildProcess> trayer_;
  std::string displayName_;
  Display* display_ = nullptr;
  std::string logDir_;
};

}  // namespace qv::test
