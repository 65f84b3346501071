#include "core/console_front_end.h"

#include <string>
#include <vector>

#include "platform/text_codec.h"

namespace qv {

void ConsoleLogView::InsertAtTop(const std::string& text) {
  // The text holds the newest line first; standard output reads best oldest first.
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find("\r\n", start);
    lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 2;
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::string utf8 = platform::Cp1251ToUtf8(*it);
    std::fputs(utf8.c_str(), out_);
    std::fputc('\n', out_);
  }
  std::fflush(out_);
}

}  // namespace qv
