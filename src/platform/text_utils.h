#pragma once
// Small text routines shared across the server.
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

// Text of the calling thread's last system error (errno); empty when it is 0.
std::string SystemErrorText();
std::string SystemErrorText(int error);

// s with the letters A-Z lowered (host names are compared in lower case).
std::string LowerCase(std::string_view s);

// s without all leading and trailing occurrences of c.
std::string TrimChar(char c, std::string_view s);

// Appends the items of source, split at separator and trimmed of blanks, to list. A separator
// at the very end adds no empty item; an empty source gives one empty item.
void SplitToList(std::string_view separator, std::string_view source,
                 std::vector<std::string>& list);

}  // namespace qv::platform
