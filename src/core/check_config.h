#pragma once
// The daemon's --check: what start-up would make of a directory's Server.ini, told before a
// restart, while the running server (if any) goes on.
#include <cstdio>
#include <string>

namespace qv {

// Reads Server.ini in dir as start-up does, without opening the port, a datafile, a mailbox or
// debug.log and without writing anything there, and prints the lines start-up would log to out.
// A missing Server.ini is checked as the default file the first start would write. True when
// start-up would log "Initialization -> Ok!".
bool CheckConfiguration(const std::string& dir, std::FILE* out);

}  // namespace qv
