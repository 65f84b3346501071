#pragma once
// The Windows Sockets numbers that the server's log lines print for a socket error (and through
// which they find its text in socket_error_text.h). Only log texts use them; decisions compare
// the std::error_code itself.
#include <system_error>

namespace qv::net {

inline constexpr int kHostNotFoundNumber = 11001;

// The number for an error of the socket layer: 0 for none; errno values by their Windows
// Sockets equivalents (10107 where there is none); lookup failures as 11001 to 11003.
int SocketErrorNumber(std::error_code error);

}  // namespace qv::net
