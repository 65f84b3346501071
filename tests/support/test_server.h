#pragma once
// Test support: temporary directories, free ports, Server.ini texts, a front end that keeps the
// log lines, and a whole server engine running in-process on its own event thread.
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/process_entry.h"
#include "platform/poll_loop.h"
#include "state/front_end.h"
#include "support/temp_dir.h"

namespace qv::test {

using namespace std::chrono_literals;

// Runs the loop until pred holds or the limit passes; returns pred().
inline bool RunUntil(platform::PollLoop& loop, const std::function<bool()>& pred,
                     std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto timer = loop.AddTimer(2, true, [&] {
    if (pred() || std::chrono::steady_clock::now() > deadline) loop.Quit();
  });
  loop.Run();
  loop.RemoveTimer(timer);
  return pred();
}

inline bool PortFree(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// A port P with P and P + 10 both free.
inline int FreePortPair() {
  std::mt19937 random(
      static_cast<unsigned>(::getpid()) ^
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 30000);
    if (PortFree(port) && PortFree(port + 10)) return port;
  }
  throw std::runtime_error("no free port pair");
}

struct IniConfig {
  int port = 6340;
  int directSend = 1;
  int tcpNoDelay = 1;
  int reconnect = 5;
  int checkIntervalMs = 0;
  // Groups, each a list of "host::user" entries.
  std::vector<std::vector<std::string>> groups = {{}};
};

inline std::string IniText(const IniConfig& config) {
  std::string text = "[Options]\r\nLanguage=0\r\nDEBUG=0\r\n[NetWork]\r\n";
  text += "Port=" + std::to_string(config.port) + "\r\n";
  text += "DirectSend=" + std::to_string(config.directSend) + "\r\n";
  text += "Reconnect=" + std::to_string(config.reconnect) + "\r\n";
  text += "TCPNoDelay=" + std::to_string(config.tcpNoDelay) + "\r\n";
  text += "CheckInterval_ms=" + std::to_string(config.checkIntervalMs) + "\r\n";
  text += "[DataBases]\r\nCount=" + std::to_string(config.groups.size()) + "\r\n";
  for (size_t g = 0; g < config.groups.size(); ++g) {
    text += "Alias" + std::to_string(g + 1) + "=Group " + std::to_string(g + 1) + "\r\n";
  }
  for (size_t g = 0; g < config.groups.size(); ++g) {
    text += "[DataBase - " + std::to_string(g + 1) + "]\r\nName=\r\nCount=7\r\nCountArc=0\r\n";
    text += "Time Begin=9\r\nTime End=20\r\nStep=0\r\nArchive Link=0\r\n";
    text += "UserCount=" + std::to_string(config.groups[g].size()) + "\r\n";
    for (size_t u = 0; u < config.groups[g].size(); ++u) {
      text += "User_" + std::to_string(u + 1) + "=" + config.groups[g][u] + "\r\n";
    }
  }
  return text;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Keeps every flushed log line (oldest first).
class CapturingView final : public state::LogView {
 public:
  int LineCount() const override { return 0; }
  bool DeleteLastLine() override { return false; }
  void InsertAtTop(const std::string& text) override {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
      const size_t at = text.find("\r\n", start);
      lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
      if (at == std::string::npos) break;
      start = at + 2;
    }
    std::lock_guard lock(mutex_);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) lines_.push_back(*it);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& line : Lines()) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }
  bool WaitFor(const std::string& part, std::chrono::milliseconds limit, int times = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Count(part) >= times) return true;
      std::this_thread::sleep_for(20ms);
    }
    return Count(part) >= times;
  }
  std::string All() const {
    std::string all;
    for (const auto& line : Lines()) all += line + "\n";
    return all;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class CapturingFrontEnd final : public state::FrontEnd {
 public:
  state::LogView& View() override { return view_; }
  void SetConnectionsCaption(const std::string& text) override {
    std::lock_guard lock(mutex_);
    caption_ = text;
  }
  std::string Caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
  }
  CapturingView& Log() { return view_; }

 private:
  CapturingView view_;
  mutable std::mutex mutex_;
  std::string caption_;
};

// The engine of one server, started from a Server.ini in a temporary directory, its event loop
// on a thread of its own.
class InProcessServer {
 public:
  explicit InProcessServer(IniConfig config) : config_(std::move(config)) {
    if (config_.port == 6340) config_.port = FreePortPair();
    WriteFile(dir_.Path() + "/Server.ini", IniText(config_));
    process_ = std::make_unique<core::ServerProcess>(dir_.Path(), loop_, front_);
  }
  ~InProcessServer() { Stop(); }

  // Call before Start to inject handlers or shorten limits.
  state::Server& server() { return process_->server(); }
  net::TFormSocksServer* window() { return process_->socketWindow(); }
  int Port() const { return config_.port; }
  const std::string& Dir() const { return dir_.Path(); }
  CapturingView& Log() { return front_.Log(); }
  CapturingFrontEnd& Front() { return front_; }
  platform::PollLoop& Loop() { return loop_; }

  void Start() {
    process_->Start();
    thread_ = std::thread([this] { loop_.Run(); });
  }

  // Runs fn on the event thread and waits for it (at most 10 s).
  template <class Fn>
  auto OnLoop(Fn fn) -> decltype(fn()) {
    using Result = decltype(fn());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(fn));
    auto future = task->get_future();
    loop_.Post([task] { (*task)(); });
    if (future.wait_for(10s) != std::future_status::ready) {
      throw std::runtime_error("event loop did not run the task");
    }
    return future.get();
  }

  void Stop() {
    if (!thread_.joinable()) return;
    loop_.Post([this] { process_->Close(); });
    loop_.Post([this] { loop_.Quit(); });
    thread_.join();
    process_->Shutdown();
  }

 private:
  IniConfig config_;
  TempDir dir_;
  platform::PollLoop loop_;
  CapturingFrontEnd front_;
  std::unique_ptr<core::ServerProcess> process_;
  std::thread thread_;
};

// Frames handed to the injected request handlers, in arrival order.
class HandlerRecorder {
 public:
  struct Frame {
    std::string host;
    std::vector<uint8_t> payload;
    std::string spoolFile;  // address-and-mail handler only
    bool mail = false;
  };
  void Add(Frame frame) {
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
    changed_.notify_all();
  }
  bool WaitCount(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return frames_.size() >= n; });
  }
  std::vector<Frame> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Frame> frames_;
};

}  // namespace qv::test

#include "state/payload_stream.h"

namespace qv::test {

// Sends every handed-over payload to the recorder.
inline void InstallRecorder(state::Server& server, HandlerRecorder& recorder) {
  server.runtime.handlers.DataRequest = [&recorder](state::TMyNameUser&, const std::string& host,
                                                    uint8_t* payload, int32_t size) {
    recorder.Add({host, std::vector<uint8_t>(payload, payload + size), {}, false});
  };
  server.runtime.handlers.AddressAndMail = [&recorder](state::TMyNameUser&, const std::string& host,
                                                       state::PayloadStream& stream,
                                                       const std::string& spoolFile) {
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
    stream.Seek(0);
    size_t done = 0;
    while (done < bytes.size()) {
      const size_t n = stream.Read(bytes.data() + done, bytes.size() - done);
      if (n == 0) break;
      done += n;
    }
    bytes.resize(done);
    if (auto file = stream.TakeSpoolFile()) file->Close();
    recorder.Add({host, std::move(bytes), spoolFile, true});
  };
}

}  // namespace qv::test
