#include "platform/text_utils.h"

#include <cerrno>
#include <cstring>

namespace qv::platform {

std::string SystemErrorText() {
  return SystemErrorText(errno);
}

std::string SystemErrorText(int error) {
  if (error == 0) return {};
  try {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    if (text == nullptr) return "Error decoding of the error code.";
    return text;
  } catch (...) {
    return "Error decoding of the error code.";
  }
}

std::string LowerCase(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string TrimChar(char c, std::string_view s) {
  size_t begin = 0;
  while (begin < s.size() && s[begin] == c) ++begin;
  size_t end = s.size();
  while (end > begin && s[end - 1] == c) --end;
  return std::string(s.substr(begin, end - begin));
}

void SplitToList(std::string_view separator, std::string_view source,
                 std::vector<std::string>& list) {
  if (separator.empty()) {
    list.push_back(TrimChar(' ', source));
    return;
  }
  for (;;) {
    const size_t at = source.find(separator);
    if (at == std::string_view::npos) {
      list.push_back(TrimChar(' ', source));
      return;
    }
    list.push_back(TrimChar(' ', source.substr(0, at)));
    if (at + 1 >= source.size()) return;  // the separator ends the source
    // Only the separator's first character is consumed; callers use a single comma.
    source = source.substr(at + 1);
  }
}

}  // namespace qv::platform
