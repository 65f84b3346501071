#include "core/console_front_end.h"

#include <string>
#include <vector>

#include "core/log_priority.h"
#include "platform/text_codec.h"

namespace qv {

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

}  // namespace

void ConsoleLogView::InsertAtTop(const std::string& text) {
  // The text holds the newest entry first; standard output reads best oldest first.
  const std::vector<std::string> entries = SplitLogEntries(text);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    std::string utf8 = platform::Cp1251ToUtf8(*it);
    for (size_t at; (at = utf8.find("\r\n")) != std::string::npos;) utf8.erase(at, 1);
    if (journal_) utf8 = PrefixLines(utf8, "<" + std::to_string(LogEntryPriority(*it)) + ">");
    std::fputs(utf8.c_str(), out_);
    std::fputc('\n', out_);
  }
  std::fflush(out_);
}

}  // namespace qv
