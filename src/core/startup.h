#pragma once
#include "state/server.h"

namespace qv::core {

struct StartupOptions {
  // Reads and checks everything but creates no directory, mailbox, socket or debug.log and
  // leaves the datafiles alone (the daemon's --check). Server.ini must exist: a missing one
  // would still be written.
  bool checkOnly = false;
};

// Turns Server.ini into the group table: settings, catalogue language, groups, users, the user
// status table, mailbox files, and each group's datafile. Reports through the log only; true when
// it logged "Initialization -> Ok!". Throws only when the POP3 directory cannot be created.
bool RunStartup(state::Server& server, const StartupOptions& options = {});

// False (and message 0 logged) when any user entry already has this user name or host name.
bool CheckUserUnique(state::Server& server, const std::string& userName,
                     const std::string& hostName);

// Splits a "host::name" user entry; without "::" the host is empty and the name is the value
// without its first character.
void SplitUserEntry(const std::string& value, std::string& host, std::string& name);

// Appends an 86-byte status slot (off line, name, host) to the user status table.
int32_t AppendStatusSlot(std::vector<uint8_t>& table, const std::string& userName,
                         const std::string& hostName);

}  // namespace qv::core
