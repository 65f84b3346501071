#include "platform/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace qv::platform {
namespace {

iconv_t OpenConverter(const char* to, const char* from) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("iconv_open failed for ") + from + " -> " + to);
  }
  return cd;
}

std::string ConvertWith(iconv_t cd, std::string_view text) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  std::string out;
  out.resize(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) continue;
    if (errno == EILSEQ || errno == EINVAL) {
      // Unconvertible or truncated input: one '?' for the offending byte, then go on.
      ++in;
      --inLeft;
      if (outLeft == 0) break;
      *outPtr++ = '?';
      --outLeft;
    } else {
      break;  // E2BIG cannot happen with four output bytes per input byte
    }
  }
  out.resize(out.size() - outLeft);
  return out;
}

std::string Convert(std::string_view text, const char* to, const char* from) {
  iconv_t cd = OpenConverter(to, from);
  std::string out;
  try {
    out = ConvertWith(cd, text);
  } catch (...) {
    ::iconv_close(cd);
    throw;
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view text) {
  return Convert(text, "UTF-8", "CP1251");
}

std::string CodePageToUtf8(std::string_view text, const char* codePage) {
  return Convert(text, "UTF-8", codePage);
}

CodePageDecoder::CodePageDecoder(const char* codePage) : cd_(OpenConverter("UTF-8", codePage)) {}

CodePageDecoder::~CodePageDecoder() {
  ::iconv_close(static_cast<iconv_t>(cd_));
}

std::string CodePageDecoder::ToUtf8(std::string_view text) {
  return ConvertWith(static_cast<iconv_t>(cd_), text);
}

std::string Utf8ToCp1251(std::string_view text) {
  return Convert(text, "CP1251", "UTF-8");
}

std::optional<std::string> Utf8ToCodePageExact(std::string_view text, const char* codePage) {
  iconv_t cd = OpenConverter(codePage, "UTF-8");
  std::string out(text.size() + 16, '\0');  // a single-byte code page never grows a text
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const bool whole = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                     ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  if (!whole || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::string Utf8ToCodePage(std::string_view text, const char* codePage) {
  return Convert(text, codePage, "UTF-8");
}

}  // namespace qv::platform
