#include "service/retrying_open.h"

#include <chrono>
#include <thread>

#include "platform/time.h"

namespace qv::service {

std::optional<platform::File> RetryingOpen(Server& server, const std::string& fileName,
                                           platform::OpenMode mode) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (auto file = platform::File::TryOpen(fileName, mode, true)) return file;
    if (std::chrono::steady_clock::now() - start >
        std::chrono::milliseconds(server.timeouts.retryingOpenLimitMs)) {
      server.log.WriteMsg(27, fileName + ".");
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(server.timeouts.retryingOpenStepMs));
  }
}

}  // namespace qv::service
