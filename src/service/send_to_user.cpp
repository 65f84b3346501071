#include "service/send_to_user.h"

namespace qv::service {

void SendToUser(state::Server& server, state::TMyNameUser& user, const uint8_t* data,
                int32_t length) {
  state::SharedBytes shared;
  SendToUser(server, user, data, length, shared);
}

void SendToUser(state::Server& server, state::TMyNameUser& user, const uint8_t* data,
                int32_t length, state::SharedBytes& shared) {
  if (length <= 0 || data == nullptr) return;
  OutboxOf(server, user).Send(data, static_cast<size_t>(length), shared);
}

void SendToUser(state::Server& server, state::TMyNameUser& user, const state::SharedBytes& bytes) {
  if (!bytes || bytes->empty()) return;
  OutboxOf(server, user).Send(bytes);
}

void QueueMailDelivery(state::Server& server, state::TMyNameUser& user) {
  OutboxOf(server, user).DeliverMail();
}

bool SendingIdle(state::Server& server, state::TMyNameUser& user) {
  return OutboxOf(server, user).Idle();
}

}  // namespace qv::service
