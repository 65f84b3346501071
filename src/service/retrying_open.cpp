#include "service/retrying_open.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/time.h"

namespace qv::service {

bool OpenMayRetry(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == EINTR;
}

std::optional<platform::File> RetryingOpen(Server& server, const std::string& fileName,
                                           platform::OpenMode mode) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (auto file = platform::File::TryOpen(fileName, mode, true)) return file;
    const int error = errno;
    // Only a file held open by another is worth waiting for; a missing or forbidden one would
    // keep the caller (the event thread at session start) waiting the whole limit for nothing.
    if (!OpenMayRetry(error) ||
        std::chrono::steady_clock::now() - start >
            std::chrono::milliseconds(server.setup.timeouts.retryingOpenLimitMs)) {
      server.runtime.log.WriteMsg(wire::MsgId::FileOpenError, fileName + ".");
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(server.setup.timeouts.retryingOpenStepMs));
  }
}

}  // namespace qv::service
