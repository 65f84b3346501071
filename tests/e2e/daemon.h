#pragma once
// A copy of quorvane-serverd in a temporary directory with its own Server.ini.
#include <memory>
#include <string>

#include "support/daemon_process.h"
#include "support/test_server.h"

namespace qv::test {

class Daemon {
 public:
  explicit Daemon(IniConfig config) : config_(std::move(config)) {
    if (config_.port == 6340) config_.port = FreePortPair();
    WriteFile(dir_.Path() + "/Server.ini", IniText(config_));
  }
  ~Daemon() { Stop(); }

  int Port() const { return config_.port; }

  // Starts the daemon and waits until its start-up has ended; another server on the machine is
  // waited for, up to about a minute.
  bool Start() {
    process_ = DaemonProcess::StartWhenFree(QV_SERVERD_PATH, dir_.Path());
    return process_->Stdout().find("Initialization") != std::string::npos;
  }
  void Stop() {
    if (process_) exitStatus_ = process_->Stop().value_or(-1);
  }

  std::string Output() const { return process_ ? process_->Stdout() + process_->Stderr() : ""; }
  int Count(const std::string& part) const { return process_ ? process_->Count(part) : 0; }
  bool WaitForOutput(const std::string& part, std::chrono::milliseconds limit, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(part) < times && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Count(part) >= times;
  }
  pid_t Pid() const { return process_ ? process_->Pid() : -1; }
  // Exit status of the stopped daemon (its exit code, or 128 + the signal that ended it).
  int ExitStatus() const { return exitStatus_; }

 private:
  IniConfig config_;
  TempDir dir_;
  std::unique_ptr<DaemonProcess> process_;
  int exitStatus_ = -1;
};

}  // namespace qv::test
