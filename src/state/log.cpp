#include "state/log.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/time.h"

namespace qv {

namespace {

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
      if (pending_.empty()) {
        pending_ = std::move(line);
      } else {
        pending_ = line + "\r\n" + pending_;
      }
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

void Log::WriteMsg(MsgId id, std::string_view suffix) {
  Write(catalogue_[id] + std::string(suffix));
}

void Log::AppendToDebugFile(const std::string& line) {
  // Opened without O_CREAT: a deleted debug.log is not brought back.
  const int fd = ::open(debugFilePath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t w = ::write(fd, line.data() + done, line.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  ::close(fd);
}

void Log::Flush(LogView& view) {
  std::lock_guard lock(sessionLock_);
  if (pending_.size() <= 2 || !windowOpen_) return;
  try {
    if (view.LineCount() > kMaxViewLines) {
      view.BeginUpdate();
      for (int i = 0; i < kTrimLines; ++i) {
        if (!view.DeleteLastLine()) break;
      }
      view.EndUpdate();
    }
    std::string text;
    text.swap(pending_);
    view.InsertAtTop(text);
  } catch (...) {
  }
}

void Log::SetDebug(bool on, std::string debugFilePath) {
  std::lock_guard lock(sessionLock_);
  debug_ = on;
  debugFilePath_ = std::move(debugFilePath);
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
  return pending_;
}

}  // namespace qv
