#include "service/reply_sender.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text_utils.h"
#include "service/send_to_user.h"
#include "state/client_socket.h"

namespace qv::service {
namespace {

bool SocketActive(const state::TMyNameUser& user) {
  return user.ClientSocket && user.ClientSocket->Active();
}

std::vector<state::TMyNameUser*> Recipients(state::Server& server, state::TMyNameUser& target,
                                            std::string_view host, int scope) {
  std::vector<state::TMyNameUser*> result;
  if (target.GroupIndex < 0 ||
      static_cast<size_t>(target.GroupIndex) >= server.roster.groups.size()) {
    return result;
  }
  state::TMyDBUser& group = server.roster.groups[static_cast<size_t>(target.GroupIndex)];
  switch (scope) {
    case kScopeGroup:
      for (state::TMyNameUser& u : group.Users) {
        if (u.Connected && SocketActive(u)) result.push_back(&u);
      }
      break;
    case kScopeUser:
      if (target.Connected) result.push_back(&target);
      break;
    case kScopeGroupOtherHost: {
      const std::string lower = platform::LowerCase(host);
      for (state::TMyNameUser& u : group.Users) {
        if (u.Connected && u.HostName != lower) result.push_back(&u);
      }
      break;
    }
    case kScopeEverybody:
      for (state::TMyDBUser& g : server.roster.groups) {
        for (state::TMyNameUser& u : g.Users) {
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

void SendReplyPackage(state::Server& server, state::TMyNameUser& target, const uint8_t* data,
                      int32_t size, std::string_view host, int scope, const void* exceptSink) {
  if (size < 0 || size > INT32_MAX - 4 || (size > 0 && data == nullptr)) return;
  if (scope != kScopeUser && server.runtime.handlers.Observers) {
    server.runtime.handlers.Observers(scope == kScopeEverybody ? -1 : target.GroupIndex, data, size,
                                      exceptSink);
  }
  const std::vector<state::TMyNameUser*> recipients = Recipients(server, target, host, scope);
  if (recipients.empty()) return;
  state::Metrics& metrics = server.runtime.metrics;
  state::Metrics::Add(metrics.framesOut, recipients.size());
  state::Metrics::Add(metrics.bytesOut, recipients.size() * (static_cast<uint64_t>(size) + 4));
  if (scope != kScopeUser) {
    const auto others = std::count_if(recipients.begin(), recipients.end(),
                                      [&](const state::TMyNameUser* u) { return u != &target; });
    state::Metrics::Add(metrics.forwardsSent, static_cast<uint64_t>(others));
  }
  if (size <= kSinglePieceLimit) {
    // Length word and payload framed on the stack; copied once, for the first recipient whose
    // piece has to wait, and that copy shared by the others.
    uint8_t framed[kSinglePieceLimit + 4];
    std::memcpy(framed, &size, 4);
    if (size > 0) std::memcpy(framed + 4, data, static_cast<size_t>(size));
    state::SharedBytes shared;
    for (state::TMyNameUser* user : recipients) SendToUser(server, *user, framed, size + 4, shared);
    return;
  }
  // A large payload (a week, the status table) is framed into one buffer that every
  // recipient's queue shares: the bytes on the wire are those of a length piece and a payload
  // piece.
  state::SharedBytes framed;
  try {
    std::vector<uint8_t> bytes = server.runtime.sendBuffers.Take(static_cast<size_t>(size) + 4);
    const auto* word = reinterpret_cast<const uint8_t*>(&size);
    bytes.insert(bytes.end(), word, word + 4);
    bytes.insert(bytes.end(), data, data + size);
    framed = ShareBytes(server.runtime.sendBuffers, std::move(bytes));
  } catch (...) {
    server.runtime.log.Write("Error formating of package!");
    return;
  }
  for (state::TMyNameUser* user : recipients) SendToUser(server, *user, framed);
}

}  // namespace qv::service
