#pragma once
// The HTML status page: version, uptime, each group with its datafile, each user with on-line
// state, host and session start, and the last log lines. Plain HTML and CSS, no scripts; every
// text from the server is escaped.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::feed {

struct StatusGroup {
  std::string Alias;              // UTF-8
  std::string Datafile;           // UTF-8; empty: no datafile
  std::optional<int64_t> Size;    // bytes; nothing when the file could not be read
  std::string FirstDay, LastDay;  // "YYYY-MM-DD", empty without records
};

struct StatusUser {
  std::string Group, Name, Host;  // UTF-8
  bool Online = false;
  int64_t SessionStartMs = 0;  // 0: no session since start
};

struct StatusSnapshot {
  std::string Version;
  int64_t NowMs = 0;
  int64_t StartedMs = 0;
  std::vector<StatusGroup> Groups;
  std::vector<StatusUser> Users;
  std::vector<std::string> LogLines;  // UTF-8, oldest first
};

std::string EscapeHtml(std::string_view text);
// "3 d 04:05:06" style uptime.
std::string FormatUptime(int64_t ms);
// "YYYY-MM-DD HH:MM:SS" in local time.
std::string FormatLocalTime(int64_t unixMs);
std::string RenderStatusPage(const StatusSnapshot& status);

}  // namespace qv::feed
