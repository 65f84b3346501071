#include "state/log.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/time.h"

namespace qv::state {

namespace {

// The newest-first text of the pending lines (oldest first).
std::string PendingText(const std::vector<std::string>& lines) {
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!text.empty()) text += "\r\n";
    text += *it;
  }
  return text;
}

bool StartsWithTimeStamp(const std::string& text, size_t at) {
  if (at + 9 > text.size()) return false;
  const auto digit = [&](size_t i) { return text[at + i] >= '0' && text[at + i] <= '9'; };
  return digit(0) && digit(1) && text[at + 2] == ':' && digit(3) && digit(4) &&
         text[at + 5] == ':' && digit(6) && digit(7) && text[at + 8] == ' ';
}

}  // namespace

std::vector<std::string> SplitLogEntries(const std::string& text) {
  std::vector<std::string> entries;
  size_t start = 0;
  size_t search = 0;
  for (;;) {
    const size_t at = text.find("\r\n", search);
    if (at == std::string::npos) {
      entries.push_back(text.substr(start));
      return entries;
    }
    if (StartsWithTimeStamp(text, at + 2)) {
      entries.push_back(text.substr(start, at - start));
      start = at + 2;
    }
    search = at + 2;
  }
}

void Log::Write(std::string_view text) {
  try {
    std::lock_guard lock(sessionLock_);
    if (!windowOpen_) return;
    try {
      const std::string stamp = platform::FormatTimeOfDay(platform::Now());
      std::string line = stamp + " " + std::string(text);
      {
        std::lock_guard recent(recentMutex_);
        if (recent_.size() >= kRecentLines) recent_.pop_front();
        recent_.push_back(line);
      }
      pending_.push_back(std::move(line));
    } catch (...) {
    }
    if (debug_) {
      try {
        AppendToDebugFile(platform::FormatTimeOfDay(platform::Now()) + " " + std::string(text) +
                          "\r\n");
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

std::vector<std::string> Log::RecentLines() const {
  std::lock_guard recent(recentMutex_);
  return {recent_.begin(), recent_.end()};
}

void Log::WriteMsg(wire::MsgId id, std::string_view suffix) {
  Write(catalogue_[id] + std::string(suffix));
}

Log::~Log() {
  CloseDebugFile();
}

void Log::CloseDebugFile() {
  if (debugFd_ >= 0) ::close(debugFd_);
  debugFd_ = -1;
}

void Log::AppendToDebugFile(const std::string& line) {
  if (debugFd_ < 0) return;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t w = ::write(debugFd_, line.data() + done, line.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
}

void Log::Flush(LogView& view) {
  std::lock_guard lock(sessionLock_);
  if (pending_.empty() || !windowOpen_) return;
  try {
    if (view.LineCount() > kMaxViewLines) {
      view.BeginUpdate();
      for (int i = 0; i < kTrimLines; ++i) {
        if (!view.DeleteLastLine()) break;
      }
      view.EndUpdate();
    }
    const std::string text = PendingText(pending_);
    pending_.clear();
    view.InsertAtTop(text);
  } catch (...) {
  }
}

void Log::SetDebug(bool on, std::string debugFilePath) {
  std::lock_guard lock(sessionLock_);
  debug_ = on;
  debugFilePath_ = std::move(debugFilePath);
  CloseDebugFile();
  // Without O_CREAT: a missing debug.log is not created here, and one deleted while it is open
  // is not brought back.
  if (on) debugFd_ = ::open(debugFilePath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

bool Log::ReopenDebugFile() {
  std::lock_guard lock(sessionLock_);
  CloseDebugFile();
  if (!debug_) return false;
  debugFd_ = ::open(debugFilePath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  return debugFd_ >= 0;
}

bool Log::Debug() const {
  std::lock_guard lock(sessionLock_);
  return debug_;
}

void Log::SetWindowOpen(bool open) {
  std::lock_guard lock(sessionLock_);
  windowOpen_ = open;
}

bool Log::WindowOpen() const {
  std::lock_guard lock(sessionLock_);
  return windowOpen_;
}

std::string Log::Pending() const {
  std::lock_guard lock(sessionLock_);
  return PendingText(pending_);
}

}  // namespace qv::state
