#pragma once
// A copy of quorvane-serverd in a temporary directory with its own Server.ini, its standard
// output kept in a file.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_server.h"

namespace qv::test {

class Daemon {
 public:
  explicit Daemon(IniConfig config) : config_(std::move(config)) {
    if (config_.port == 6340) config_.port = FreePortPair();
    binary_ = dir_.Path() + "/quorvane-serverd";
    std::filesystem::copy_file(QV_SERVERD_PATH, binary_);
    WriteFile(dir_.Path() + "/Server.ini", IniText(config_));
  }
  ~Daemon() { Stop(); }

  int Port() const { return config_.port; }

  // Starts the daemon and waits until it has opened its port. Another server on the machine
  // (single instance, perhaps another test run) is waited for, up to about a minute.
  bool Start() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (Launch() && WaitForOutput("Initialization", 10s)) return true;
      Stop();
      if (Output().find("Program is already running.") == std::string::npos) return false;
      std::this_thread::sleep_for(500ms);
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);  // a hung test daemon must not outlive the test
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    exitStatus_ = status;
    pid_ = -1;
  }

  std::string Output() const {
    std::ifstream in(dir_.Path() + "/stdout.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  int Count(const std::string& part) const {
    const std::string all = Output();
    int n = 0;
    for (size_t at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) ++n;
    return n;
  }
  bool WaitForOutput(const std::string& part, std::chrono::milliseconds limit, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Count(part) >= times) return true;
      if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return Count(part) >= times;
      }
      std::this_thread::sleep_for(20ms);
    }
    return Count(part) >= times;
  }
  pid_t Pid() const { return pid_; }
  int ExitStatus() const { return exitStatus_; }

 private:
  bool Launch() {
    const std::string out = dir_.Path() + "/stdout.txt";
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      ::execl(binary_.c_str(), binary_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return true;
  }

  IniConfig config_;
  TempDir dir_;
  std::string binary_;
  pid_t pid_ = -1;
  int exitStatus_ = 0;
};

}  // namespace qv::test
