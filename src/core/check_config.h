#pragma once
// The daemon's --check: what start-up would make of a Server.ini, told before a restart, while
// the running server (if any) goes on.
#include <cstdio>
#include <string>

namespace qv::core {

// Reads the settings (configFile, or Server.ini in dir when it is empty) as start-up does,
// without opening the port, a datafile, a mailbox or debug.log and without writing anything,
// and prints the lines start-up would log to out; then every key, datafile and directory at
// fault, each named, and notes (a datafile that the start will create). A missing file is
// checked as the default file the first start would write. True when start-up would log
// "Initialization -> Ok!" and nothing is at fault.
bool CheckConfiguration(const std::string& dir, const std::string& configFile, std::FILE* out);

}  // namespace qv::core
