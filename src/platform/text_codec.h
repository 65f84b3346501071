#pragma once
// Conversion between the Windows-1251 bytes the catalogue holds and the UTF-8 that terminals and
// widgets show, through glibc's iconv.
#include <string>
#include <string_view>

namespace qv::platform {

std::string Cp1251ToUtf8(std::string_view text);
// Characters with no Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace qv::platform
