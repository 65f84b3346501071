#include "platform/service_notify.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstdlib>

namespace qv::platform {

bool NotifyServiceManager(const std::string& state) {
  // sd_notify returns 0 without a NOTIFY_SOCKET, a negative errno when sending failed.
  return ::sd_notify(0, state.c_str()) > 0;
}

bool MatchesJournalStream(int fd, const char* journalStream) {
  if (journalStream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  char rest = 0;
  if (std::sscanf(journalStream, "%llu:%llu%c", &device, &inode, &rest) != 2) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

bool IsJournalStream(int fd) {
  return MatchesJournalStream(fd, std::getenv("JOURNAL_STREAM"));
}

}  // namespace qv::platform
