#pragma once
// Texts of the Windows Sockets error numbers (10000 to 10112) that the connection layer quotes
// in its log lines. Our sockets report errors with these numbers (mapped from errno).
#include <string>

namespace qv {

constexpr int kFirstSocketErrorCode = 10000;
constexpr int kSocketErrorTextCount = 113;  // codes 10000 .. 10112

// Text of `code`; false when the code has no line (below 10000 or above 10112). Codes in range
// without a text of their own give an empty text and true.
bool SocketErrorText(int code, std::string& text);

}  // namespace qv
