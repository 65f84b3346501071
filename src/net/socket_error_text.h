#pragma once
// Texts of the Windows Sockets error codes that connection log lines quote: 113 lines, line n
// for code 10000 + n. Many lines are empty; an empty line still counts as found.
#include <string>

namespace qv::net {

inline constexpr int kFirstSocketErrorCode = 10000;
inline constexpr int kSocketErrorLines = 113;

// False when the code has no line (below 10000 or above 10112).
bool SocketErrorText(int code, std::string& text);

}  // namespace qv::net
