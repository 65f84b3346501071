#pragma once
// The journal priority of a log entry, for the "<N>" prefix of lines the daemon writes to a
// journal stream: errors 3, warnings 4, everything else 6.
#include <string_view>

namespace qv::core {

constexpr int kPriorityError = 3;
constexpr int kPriorityWarning = 4;
constexpr int kPriorityInfo = 6;

// entry: one log entry as the log holds it (Windows-1251), with or without its "HH:MM:SS "
// time stamp. Catalogue texts are recognised in both languages; other fixed texts are errors
// when they say "Error".
int LogEntryPriority(std::string_view entry);

}  // namespace qv::core
