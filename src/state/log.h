#pragma once
// The server log: time-stamped lines kept newest first until the main window's timer flushes
// them to the log view, and appended to debug.log in debug mode. Callable from any thread.
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "state/catalogue.h"

namespace qv::state {

// What the flush needs of the log view (the memo of the main window, or standard output).
class LogView {
 public:
  virtual ~LogView() = default;
  virtual int LineCount() const = 0;
  virtual bool DeleteLastLine() = 0;
  virtual void BeginUpdate() {}
  virtual void EndUpdate() {}
  // Inserts text (lines separated by "\r\n", newest first) as the view's first lines.
  virtual void InsertAtTop(const std::string& text) = 0;
};

// Splits a flushed text into its log entries, newest first. An entry starts with its "HH:MM:SS "
// time stamp and may itself hold line breaks (the debug marker does).
std::vector<std::string> SplitLogEntries(const std::string& text);

class Log final : public wire::LogSink {
 public:
  static constexpr int kMaxViewLines = 100;
  static constexpr int kTrimLines = 20;

  Log(const Catalogue& catalogue, std::recursive_mutex& sessionLock)
      : catalogue_(catalogue), sessionLock_(sessionLock) {}
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Appends one line: local time, one blank, text. Never throws.
  void Write(std::string_view text) override;
  // Catalogue entry id followed by suffix.
  void WriteMsg(wire::MsgId id, std::string_view suffix = {}) override;
  const std::string& Msg(wire::MsgId id) const { return catalogue_[id]; }
  const Catalogue& Texts() const { return catalogue_; }

  // Moves the pending text into the view (GUI thread only).
  void Flush(LogView& view);

  // Debug mode: every line also goes to this file, which must already exist. It is opened here
  // and kept open while debug mode is on.
  void SetDebug(bool on, std::string debugFilePath);
  bool Debug() const;
  // After debug.log was moved away (log rotation): closes the open file and opens the path
  // again, creating it (mode 0640) when missing. False when debug mode is off or the file
  // cannot be opened.
  bool ReopenDebugFile();
  // Cleared when the main window closes; afterwards Write does nothing.
  void SetWindowOpen(bool open);
  bool WindowOpen() const;
  std::string Pending() const;
  // The last kRecentLines lines written, oldest first (for the HTTP status page).
  static constexpr size_t kRecentLines = 50;
  std::vector<std::string> RecentLines() const;

 private:
  void AppendToDebugFile(const std::string& line);

  const Catalogue& catalogue_;
  std::recursive_mutex& sessionLock_;
  void CloseDebugFile();

  // Lines not yet flushed, oldest first: a new line is appended, the newest-first text is built
  // once per flush.
  std::vector<std::string> pending_;
  bool windowOpen_ = true;
  bool debug_ = false;
  std::string debugFilePath_;
  int debugFd_ = -1;
  mutable std::mutex recentMutex_;  // innermost; guards recent_
  std::deque<std::string> recent_;
};

}  // namespace qv::state
