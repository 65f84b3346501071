#pragma once
// The data request handler: interprets every complete frame whose code is not 4000, reads or
// changes the requester's group datafile through the record store, answers the requester and
// forwards changes to the other hosts of the group. Runs on the event thread, one request at a
// time; errors it does not handle itself go back to the frame receiver.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "service/member_service.h"
#include "service/reply_sender.h"
#include "service/request_package.h"
#include "state/server.h"

namespace qv::service {

// Frames and sends one payload to the users of a delivery scope (SendReplyPackage; tests record
// the calls instead).
using ReplySender = std::function<void(state::TMyNameUser& target, const uint8_t* data,
                                       int32_t size, const std::string& host, int scope)>;
using MailWorkerStarter = std::function<void(state::TMyNameUser& user)>;
using TickSource = std::function<uint32_t()>;

// An edit that keeps the record store longer than this is reported in the log.
constexpr int32_t kSlowEditMs = 1000;

// The native front end of the member API: every change, copy and mark goes through members;
// answers and the requests that only the native protocol has (poll, hello, days, fetch mail)
// are handled here.
class DataRequestHandler {
 public:
  // Without members (tests), the handler makes its own member service, without durable
  // acknowledgments, that forwards through reply.
  DataRequestHandler(state::Server& server, ReplySender reply, MailWorkerStarter startMailWorker,
                     TickSource ticks = {}, std::shared_ptr<MemberService> members = {});

  // One complete data request of size bytes from user (host: the user's host name).
  void Handle(state::TMyNameUser& user, const std::string& host, const uint8_t* payload,
              int32_t size);

 private:
  struct Request {
    state::TMyNameUser& user;
    state::TMyDBUser& group;
    std::string host;
    int32_t code;
    int32_t subcode;
    int32_t size;  // bytes a forward of the package as received carries (at most 2351)
  };

  void Poll(Request& r);
  void PollAnswer(Request& r);
  void Mark(Request& r);
  void CopyDay(Request& r);
  void SlotId(Request& r);
  void Days(Request& r);
  void Hello(Request& r);
  void Edit(Request& r);
  void SendMarksOfOthers(Request& r);
  void Refuse(Request& r);
  void Send(state::TMyNameUser& target, const uint8_t* data, int32_t size, const std::string& host,
            int scope);
  static MemberRef Ref(const state::TMyNameUser& user) { return {user.GroupIndex, user.UserIndex}; }

  state::Server& server_;
  ReplySender reply_;
  MailWorkerStarter startMailWorker_;
  TickSource ticks_;
  std::shared_ptr<MemberService> members_;
  // The received request, zero-padded (or realigned) to 2351 bytes; answers are built in it.
  wire::RequestPackage package_{};
  std::chrono::steady_clock::time_point received_{};  // when the request being handled arrived
};

}  // namespace qv::service
