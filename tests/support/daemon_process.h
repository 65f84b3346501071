#pragma once
// Runs a copy of quorvane-serverd in a directory of its own (the server keeps Server.ini, POP3/
// and debug.log beside its executable) and collects what it prints.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::test {

class DaemonProcess {
 public:
  // Copies the daemon binary into dir and starts it there, with args after the program name and
  // env ("NAME=value") added to this process's environment. launcher, when given, is a command
  // that execs the daemon in place (such as "unshare -n"), so the process id stays the daemon's.
  DaemonProcess(const std::string& binary, const std::string& dir,
                const std::vector<std::string>& args = {}, const std::vector<std::string>& env = {},
                const std::vector<std::string>& launcher = {})
      : dir_(dir) {
    const std::string exe = dir + "/quorvane-serverd";
    if (!std::filesystem::exists(exe)) {
      std::filesystem::copy_file(binary, exe);
    }
    outPath_ = dir + "/stdout.txt";
    errPath_ = dir + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    for (const std::string& word : launcher) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // A service manager or journal of the test's own is not passed on; env replaces what it names.
    std::vector<std::string> replaced = {"NOTIFY_SOCKET=", "JOURNAL_STREAM="};
    for (const std::string& entry : env) replaced.push_back(entry.substr(0, entry.find('=') + 1));
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool keep = true;
      for (const std::string& name : replaced) keep = keep && entry.rfind(name, 0) != 0;
      if (keep) envp.push_back(*e);
    }
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int rc =
        launcher.empty()
            ? posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data())
            : posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + exe);
  }
  ~DaemonProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  std::string Stdout() const { return ReadFile(outPath_); }
  std::string Stderr() const { return ReadFile(errPath_); }

  // Waits until standard output holds text; false after the limit.
  bool WaitForOutput(const std::string& text,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Stdout().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Stdout().find(text) != std::string::npos;
  }

  // Times text stands in standard output.
  int Count(const std::string& text) const {
    const std::string all = Stdout();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  void Signal(int sig) const { ::kill(pid_, sig); }

  // SIGTERM, then the exit status; a daemon that hangs is killed after the limit.
  std::optional<int> Stop(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (exitStatus_) return exitStatus_;
    Signal(SIGTERM);
    if (!WaitForExit(limit)) {
      Signal(SIGKILL);
      WaitForExit(std::chrono::seconds(5));
    }
    return exitStatus_;
  }

  // Only one server runs per machine: while another one (another test program) holds the name,
  // a new daemon is refused at once. Starts one in dir and waits until its start-up has ended
  // (readyText in its output), trying again while it is refused, up to the limit.
  static std::unique_ptr<DaemonProcess> StartWhenFree(
      const std::string& binary, const std::string& dir,
      const std::string& readyText = "Initialization",
      std::chrono::milliseconds limit = std::chrono::seconds(60),
      const std::vector<std::string>& env = {}) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      auto daemon = std::make_unique<DaemonProcess>(binary, dir, std::vector<std::string>{}, env);
      for (int i = 0; i < 1000; ++i) {  // about 10 s for one start-up
        if (daemon->Stdout().find(readyText) != std::string::npos) return daemon;
        if (daemon->WaitForExit(std::chrono::milliseconds(10))) break;
      }
      if (daemon->Stderr().find("Program is already running.") == std::string::npos ||
          std::chrono::steady_clock::now() >= deadline) {
        return daemon;  // the caller sees from its output why it is not ready
      }
      daemon.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  pid_t Pid() const { return pid_; }

  // Exit status once the process has ended within the limit.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exitStatus_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitStatus_;
  }

 private:
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
  std::string outPath_, errPath_;
  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
};

// A first start writes the default Server.ini and listens on its port, 6340, which a server
// installed on the machine may hold. Where the test may (as root, with unshare(1)), such a daemon
// runs in a network namespace of its own; otherwise the list is empty.
inline std::vector<std::string> OwnNetworkLauncher() {
  if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/unshare")) return {};
  return {"/usr/bin/unshare", "--net"};
}

// Runs a command in the network namespace of process pid (which the single-instance name is
// bound to, as an abstract socket).
inline std::vector<std::string> NetworkOfLauncher(pid_t pid) {
  return {"/usr/bin/nsenter", "--net=/proc/" + std::to_string(pid) + "/ns/net"};
}

}  // namespace qv::test
