#include "core/service_front_end.h"

#include "platform/service_notify.h"
#include "platform/text_codec.h"

namespace qv::core {

void ServiceFrontEnd::SetConnectionsCaption(const std::string& text) {
  try {
    const std::string status = platform::Cp1251ToUtf8(text);
    std::lock_guard lock(statusLock_);
    if (status == lastStatus_) return;
    lastStatus_ = status;
    // Sent under the lock, so that two changes reach the manager in the order they were made.
    platform::NotifyServiceManager("STATUS=" + status);
  } catch (...) {
    // The status line is a courtesy; the server goes on without it.
  }
}

}  // namespace qv::core
