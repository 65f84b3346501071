#pragma once
// Frames one payload (int32 length, then the bytes) and hands it to send-to-user for every
// recipient of a delivery scope.
#include <cstdint>
#include <string_view>

#include "state/server.h"
#include "wire/packages.h"

namespace qv::service {

enum DeliveryScope : int {
  kScopeGroup = 1,           // every connected user of the target's group with an active socket
  kScopeUser = 2,            // the target, when connected
  kScopeGroupOtherHost = 3,  // every connected user of the group working from another host
  kScopeEverybody = 4,       // every connected user with an active socket
};

// Payloads up to the size of a data request leave as one piece (length and bytes together).
inline constexpr int32_t kSinglePieceLimit = wire::request::kSize;

// Also hands the payload to the server's observers (the member API's sinks) of the target's
// group, or of every group for kScopeEverybody, except the sink named by exceptSink.
void SendReplyPackage(state::Server& server, state::TMyNameUser& target, const uint8_t* data,
                      int32_t size, std::string_view host, int scope,
                      const void* exceptSink = nullptr);

}  // namespace qv::service
