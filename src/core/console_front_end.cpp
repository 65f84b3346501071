#include "core/console_front_end.h"

#include <string>
#include <vector>

#include "core/log_priority.h"
#include "platform/text_codec.h"

namespace qv::core {

namespace {

// The journal reads each line as a record of its own: each gets the prefix.
std::string PrefixLines(const std::string& text, const std::string& prefix) {
  std::string out = prefix;
  for (const char c : text) {
    out += c;
    if (c == '\n') out += prefix;
  }
  return out;
}

// "HH:MM:SS text" -> "text"; an entry without that stamp stays as it is.
std::string WithoutTimeStamp(const std::string& entry) {
  constexpr size_t kStampSize = 9;
  if (entry.size() < kStampSize || entry[2] != ':' || entry[5] != ':' || entry[8] != ' ') {
    return entry;
  }
  return entry.substr(kStampSize);
}

}  // namespace

void ConsoleLogView::InsertAtTop(const std::string& text) {
  // The text holds the newest entry first; standard output reads best oldest first.
  const std::vector<std::string> entries = state::SplitLogEntries(text);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    std::string utf8 = platform::Cp1251ToUtf8(journal_ ? WithoutTimeStamp(*it) : *it);
    for (size_t at; (at = utf8.find("\r\n")) != std::string::npos;) utf8.erase(at, 1);
    if (journal_) utf8 = PrefixLines(utf8, "<" + std::to_string(LogEntryPriority(*it)) + ">");
    std::fputs(utf8.c_str(), out_);
    std::fputc('\n', out_);
  }
  std::fflush(out_);
}

}  // namespace qv::core
