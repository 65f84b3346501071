#include "service/request_service.h"

#include <memory>

#include "service/dispatch.h"
#include "service/mail.h"
#include "service/reply_sender.h"
#include "service/send_to_user.h"
#include "service/sessions.h"

namespace qv::service {

std::shared_ptr<MemberService> InstallRequestHandlers(state::Server& server) {
  server.runtime.sessionEvents.Started = [&server](state::TMyNameUser& user) {
    SessionStart(server, user);
  };
  server.runtime.sessionEvents.OutgoingClosed = [&server](platform::TcpClient& socket) {
    SessionEndOutgoing(server, socket);
  };
  server.runtime.sessionEvents.IncomingClosed = [&server](int handle) {
    SessionEndIncoming(server, handle);
  };
  ReplySender reply = [&server](state::TMyNameUser& target, const uint8_t* data, int32_t size,
                                const std::string& host, int scope) {
    SendReplyPackage(server, target, data, size, host, scope);
  };
  auto members = std::make_shared<MemberService>(server, std::make_shared<DurableAcks>(server));
  // Handlers put in place before start-up (by tests) stay.
  if (!server.runtime.handlers.DataRequest) {
    auto data = std::make_shared<DataRequestHandler>(
        server, reply, [&server](state::TMyNameUser& user) { QueueMailDelivery(server, user); },
        TickSource{}, members);
    server.runtime.handlers.DataRequest = [data](state::TMyNameUser& user, const std::string& host,
                                                 uint8_t* payload, int32_t size) {
      data->Handle(user, host, payload, size);
    };
  }
  if (!server.runtime.handlers.AddressAndMail) {
    auto mail = std::make_shared<AddressAndMailHandler>(server, reply);
    server.runtime.handlers.AddressAndMail =
        [mail](state::TMyNameUser& user, const std::string& host, state::PayloadStream& payload,
               const std::string& spoolFileName) {
          mail->Handle(user, host, payload, spoolFileName);
        };
  }
  return members;
}

}  // namespace qv::service
