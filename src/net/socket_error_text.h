#pragma once
// Texts of the Windows Sockets error codes that connection log lines quote: 113 lines, line n
// for code 10000 + n. Many lines are empty; an empty line still counts as found.
#include <optional>
#include <string>

namespace qv::net {

inline constexpr int kFirstSocketErrorCode = 10000;
inline constexpr int kSocketErrorLines = 113;

// The line of code; none when the code has no line (below 10000 or above 10112).
std::optional<std::string> SocketErrorText(int code);

}  // namespace qv::net
