#include "config/dotted_address.h"

#include <cstdint>

#include "config/ini_store.h"

namespace qv::config {

bool CheckDottedAddress(std::string_view text, std::string& normalised) {
  std::string result;
  std::string_view rest = text;
  for (int part = 0; part < 4; ++part) {
    std::string_view number = rest;
    if (part < 3) {
      const size_t dot = rest.find('.');
      if (dot == std::string_view::npos) return false;
      number = rest.substr(0, dot);
      rest = rest.substr(dot + 1);
    }
    int32_t value = 0;
    if (!TryParseInt(number, value)) return false;
    if (part > 0) result += '.';
    result += std::to_string(value);
  }
  normalised = std::move(result);
  return true;
}

}  // namespace qv::config
