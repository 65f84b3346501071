#pragma once
// The daemon's side of systemd: readiness and status through sd_notify, and whether standard
// output is a journal stream (then each line may carry its priority as a "<N>" prefix).
#include <string>

namespace qv::platform {

// Sends one notification ("READY=1", "STOPPING=1", "STATUS=…") to the service manager named by
// NOTIFY_SOCKET. False when none is set or the message could not be sent.
bool NotifyServiceManager(const std::string& state);

// True when JOURNAL_STREAM ("device:inode") names the file that descriptor fd refers to.
bool IsJournalStream(int fd);
// The same with the variable's value given (nullptr: not set).
bool MatchesJournalStream(int fd, const char* journalStream);

}  // namespace qv::platform
