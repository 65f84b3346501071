#pragma once
// The dotted-address check: is a host text four integers joined by three dots? The settings
// dialog stores such a host in its normalised form (leading zeros and plus signs dropped).
#include <string>
#include <string_view>

namespace qv::config {

// True when text is four integers separated by dots; normalised then holds the numbers written
// back in decimal ("010.000.100.005" gives "10.0.100.5"). No range check is made.
bool CheckDottedAddress(std::string_view text, std::string& normalised);

}  // namespace qv::config
