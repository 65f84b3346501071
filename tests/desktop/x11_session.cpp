#include "x11_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

#include "support/child_exit.h"

namespace qv::test {
namespace {

std::vector<std::string> Environment(const std::vector<std::string>& env,
                                     const std::vector<std::string>& unsetEnv) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool drop = false;
    for (const std::string& u : unsetEnv) drop = drop || u == name;
    for (const std::string& e : env) drop = drop || e.substr(0, e.find('=')) == name;
    if (!drop) result.push_back(text);
  }
  result.insert(result.end(), env.begin(), env.end());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env,
                           const std::vector<std::string>& unsetEnv, const std::string& outputPath,
                           int keepFd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = Environment(env, unsetEnv);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (keepFd >= 0) posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
  const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
}

ChildProcess::~ChildProcess() {
  Stop();
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  return WaitChildExit(pid_, status_, limit);
}

void ChildProcess::Stop() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGTERM);
  if (!WaitExit(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    WaitExit(std::chrono::seconds(5));
  }
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool WaitFor(const std::function<bool()>& check, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return check();
}

X11Session::X11Session(bool withTray) {
  for (const char* program : {"Xvfb", "trayer", "xdotool"}) {
    if (FindProgram(program).empty()) {
      throw std::runtime_error(std::string(program) +
                               " is not installed (scripts/deps.sh installs xvfb, trayer and "
                               "xdotool)");
    }
  }
  char pattern[] = "/tmp/qv-x11-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  logDir_ = pattern;

  // Xvfb picks a free display number itself and writes it to descriptor 3.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  xvfb_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{FindProgram("Xvfb"), "-displayfd", "3", "-nolisten", "tcp",
                               "-screen", "0", "1024x768x24"},
      std::vector<std::string>{}, std::vector<std::string>{}, logDir_ + "/xvfb.log", fds[1]);
  ::close(fds[1]);
  std::string number;
  pollfd pfd{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (::poll(&pfd, 1, 100) <= 0) continue;
    char buffer[16];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
  displayName_ = ":" + number.substr(0, number.find('\n'));
  display_ = XOpenDisplay(displayName_.c_str());
  if (display_ == nullptr) throw std::runtime_error("cannot open display " + displayName_);

  if (withTray) StartTray();
}

void X11Session::StartTray() {
  if (trayer_) return;
  trayer_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{FindProgram("trayer"), "--edge", "top", "--align", "right",
                               "--widthtype", "request", "--height", "24"},
      std::vector<std::string>{"DISPLAY=" + displayName_}, std::vector<std::string>{},
      logDir_ + "/trayer.log");
  const Atom tray = XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False);
  if (!WaitFor([&] { return XGetSelectionOwner(display_, tray) != None; },
               std::chrono::seconds(10))) {
    throw std::runtime_error("trayer did not take the system tray selection");
  }
}

X11Session::~X11Session() {
  trayer_.reset();
  if (display_ != nullptr) XCloseDisplay(display_);
  xvfb_.reset();
  std::error_code ec;
  std::filesystem::remove_all(logDir_, ec);
}

std::vector<Window> X11Session::AllWindows() const {
  std::vector<Window> result;
  std::vector<Window> stack{DefaultRootWindow(display_)};
  while (!stack.empty() && result.size() < 10000) {
    const Window window = stack.back();
    stack.pop_back();
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, window, &root, &parent, &children, &count) == 0) continue;
    for (unsigned i = 0; i < count; ++i) {
      result.push_back(children[i]);
      stack.push_back(children[i]);
    }
    if (children != nullptr) XFree(children);
  }
  return result;
}

std::string X11Session::Name(Window window) const {
  char* name = nullptr;
  if (XFetchName(display_, window, &name) == 0 || name == nullptr) return {};
  std::string result = name;
  XFree(name);
  return result;
}

std::string X11Session::Class(Window window) const {
  XClassHint hint{};
  if (XGetClassHint(display_, window, &hint) == 0) return {};
  std::string result = hint.res_class != nullptr ? hint.res_class : "";
  if (hint.res_name != nullptr) XFree(hint.res_name);
  if (hint.res_class != nullptr) XFree(hint.res_class);
  return result;
}

bool X11Session::Viewable(Window window) const {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display_, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

bool X11Session::OverrideRedirect(Window window) const {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.override_redirect;
}

Window X11Session::Parent(Window window) const {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, window, &root, &parent, &children, &count) == 0) return 0;
  if (children != nullptr) XFree(children);
  return parent;
}

std::pair<int, int> X11Session::ScreenPosition(Window window) const {
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  return {x, y};
}

std::pair<int, int> X11Session::Size(Window window) const {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_, window, &attributes) == 0) return {0, 0};
  return {attributes.width, attributes.height};
}

std::optional<Window> X11Session::TrayPanel() const {
  for (Window window : AllWindows()) {
    if (Parent(window) == DefaultRootWindow(display_) && Class(window) == "trayer" &&
        Name(window) == "panel") {
      return window;
    }
  }
  return std::nullopt;
}

bool X11Session::Inside(Window window, Window ancestor) const {
  for (int depth = 0; depth < 50 && window != 0; ++depth) {
    window = Parent(window);
    if (window == ancestor) return true;
  }
  return false;
}

void X11Session::RequestClose(Window window) const {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XFlush(display_);
}

bool X11Session::Click(int x, int y, int button) const {
  ChildProcess xdotool({FindProgram("xdotool"), "mousemove", std::to_string(x), std::to_string(y),
                        "sleep", "0.2", "click", std::to_string(button)},
                       {"DISPLAY=" + displayName_}, {}, logDir_ + "/xdotool.log");
  const std::optional<int> status = xdotool.WaitExit(std::chrono::seconds(10));
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

}  // namespace qv::test
