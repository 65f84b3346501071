#include "platform/signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qv::platform {

int OpenTerminationSignals(bool hangup) {
  if (::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
    throw std::system_error(errno, std::generic_category(), "signal(SIGPIPE)");
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (hangup) sigaddset(&set, SIGHUP);
  if (const int rc = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0) {
    throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
  }
  const int fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  return fd;
}

int ReadSignal(int fd) {
  signalfd_siginfo info{};
  const ssize_t n = ::read(fd, &info, sizeof info);
  return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace qv::platform
