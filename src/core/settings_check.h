#pragma once
// A closer look at Server.ini than start-up takes: every key start-up reads, [Feed] included, and
// the files and directories a start needs. Each finding names its section, key and value.
#include <string>
#include <vector>

#include "config/ini_store.h"

namespace qv::core {

struct SettingsFinding {
  bool fault = true;  // false: a note (the start goes on, as the note says)
  std::string text;
};

// stateDir: where the server keeps POP3/ and debug.log.
std::vector<SettingsFinding> CheckSettings(const config::IniStore& ini,
                                           const std::string& stateDir);

// True when a value looks like "value ; comment": the file format has no inline comments, so the
// comment would become part of the value.
bool LooksLikeInlineComment(const std::string& value);

}  // namespace qv::core
