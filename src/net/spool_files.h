#pragma once
// Spool files of large frames (POP3/<host><tick>.buf) live only while their frame is received
// and handled; any found at start-up were left by a server that stopped in between.
#include <string>

namespace qv::net {

// Deletes every *.buf file directly in the directory; returns how many went.
int RemoveStaleSpoolFiles(const std::string& pop3Dir);

}  // namespace qv::net
