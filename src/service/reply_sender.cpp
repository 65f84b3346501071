#include "service/reply_sender.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "service/send_to_user.h"
#include "state/client_socket.h"
#include "store/text_utils.h"

namespace qv::service {
namespace {

bool SocketActive(const TMyNameUser& user) {
  return user.ClientSocket && user.ClientSocket->Active();
}

std::vector<TMyNameUser*> Recipients(Server& server, TMyNameUser& target, std::string_view host,
                                     int scope) {
  std::vector<TMyNameUser*> result;
  if (target.GroupIndex < 0 || static_cast<size_t>(target.GroupIndex) >= server.groups.size()) {
    return result;
  }
  TMyDBUser& group = server.groups[static_cast<size_t>(target.GroupIndex)];
  switch (scope) {
    case kScopeGroup:
      for (TMyNameUser& u : group.Users) {
        if (u.Connected && SocketActive(u)) result.push_back(&u);
      }
      break;
    case kScopeUser:
      if (target.Connected) result.push_back(&target);
      break;
    case kScopeGroupOtherHost: {
      const std::string lower = store::LowerCase(host);
      for (TMyNameUser& u : group.Users) {
        if (u.Connected && u.HostName != lower) result.push_back(&u);
      }
      break;
    }
    case kScopeEverybody:
      for (TMyDBUser& g : server.groups) {
        for (TMyNameUser& u : g.Users) {
          if (u.Connected && SocketActive(u)) result.push_back(&u);
        }
      }
      break;
    default:
      break;
  }
  return result;
}

}  // namespace

void SendReplyPackage(Server& server, TMyNameUser& target, const uint8_t* data, int32_t size,
                      std::string_view host, int scope) {
  if (size < 0 || (size > 0 && data == nullptr)) return;
  const std::vector<TMyNameUser*> recipients = Recipients(server, target, host, scope);
  if (recipients.empty()) return;
  Metrics& metrics = server.metrics;
  Metrics::Add(metrics.framesOut, recipients.size());
  Metrics::Add(metrics.bytesOut, recipients.size() * (static_cast<uint64_t>(size) + 4));
  if (scope != kScopeUser) {
    const auto others = std::count_if(recipients.begin(), recipients.end(),
                                      [&](const TMyNameUser* u) { return u != &target; });
    Metrics::Add(metrics.forwardsSent, static_cast<uint64_t>(others));
  }
  uint8_t sizeWord[4];
  std::memcpy(sizeWord, &size, sizeof sizeWord);
  if (size <= kSinglePieceLimit) {
    std::vector<uint8_t> framed;
    bool built = false;
    try {
      framed.resize(static_cast<size_t>(size) + 4);
      std::memcpy(framed.data(), sizeWord, 4);
      if (size > 0) std::memcpy(framed.data() + 4, data, static_cast<size_t>(size));
      built = true;
    } catch (...) {
      server.log.Write("Error formating of package!");
    }
    if (built) {
      for (TMyNameUser* user : recipients) {
        SendToUser(server, *user, framed.data(), static_cast<int32_t>(framed.size()));
      }
      return;
    }
  }
  for (TMyNameUser* user : recipients) {
    SendToUser(server, *user, sizeWord, 4);
    SendToUser(server, *user, data, size);
  }
}

}  // namespace qv::service
