#pragma once
// Conversion between the Windows-1251 bytes the catalogue holds and the UTF-8 that terminals and
// widgets show, through glibc's iconv.
#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

std::string Cp1251ToUtf8(std::string_view text);
// From any single-byte code page iconv knows ("CP1251", "CP1252", ...); bytes without a
// character become '?'.
std::string CodePageToUtf8(std::string_view text, const char* codePage);
// Characters with no Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view text);
// UTF-8 to a code page iconv knows; empty when the text is no valid UTF-8 or holds a character
// the code page has no form for. Throws std::runtime_error for an unknown code page.
std::optional<std::string> Utf8ToCodePageExact(std::string_view text, const char* codePage);
// UTF-8 to any single-byte code page iconv knows; characters without a form there become '?'.
std::string Utf8ToCodePage(std::string_view text, const char* codePage);

// A converter from one single-byte code page to UTF-8 for many texts (one iconv descriptor).
// One thread at a time.
class CodePageDecoder {
 public:
  explicit CodePageDecoder(const char* codePage);  // throws std::runtime_error when unknown
  ~CodePageDecoder();
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;
  std::string ToUtf8(std::string_view text);

 private:
  void* cd_;
};

}  // namespace qv::platform
