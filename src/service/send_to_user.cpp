#include "service/send_to_user.h"

namespace qv::service {

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length) {
  SharedBytes shared;
  SendToUser(server, user, data, length, shared);
}

void SendToUser(Server& server, TMyNameUser& user, const uint8_t* data, int32_t length,
                SharedBytes& shared) {
  if (length <= 0 || data == nullptr) return;
  OutboxOf(server, user).Send(data, static_cast<size_t>(length), shared);
}

void SendToUser(Server& server, TMyNameUser& user, const SharedBytes& bytes) {
  if (!bytes || bytes->empty()) return;
  OutboxOf(server, user).Send(bytes);
}

void QueueMailDelivery(Server& server, TMyNameUser& user) {
  OutboxOf(server, user).DeliverMail();
}

bool SendingIdle(Server& server, TMyNameUser& user) {
  return OutboxOf(server, user).Idle();
}

}  // namespace qv::service
