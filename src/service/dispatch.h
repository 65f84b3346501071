#pragma once
// The data request handler: interprets every complete frame whose code is not 4000, reads or
// changes the requester's group datafile through the record store, answers the requester and
// forwards changes to the other hosts of the group. Runs on the event thread, one request at a
// time; errors it does not handle itself go back to the frame receiver.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "service/durable_acks.h"
#include "service/reply_sender.h"
#include "service/request_package.h"
#include "state/server.h"

namespace qv::service {

// Frames and sends one payload to the users of a delivery scope (SendReplyPackage; tests record
// the calls instead).
using ReplySender = std::function<void(TMyNameUser& target, const uint8_t* data, int32_t size,
                                       const std::string& host, int scope)>;
using MailWorkerStarter = std::function<void(TMyNameUser& user)>;
using TickSource = std::function<uint32_t()>;

// An edit that keeps the record store longer than this is reported in the log.
constexpr int32_t kSlowEditMs = 1000;

class DataRequestHandler {
 public:
  DataRequestHandler(Server& server, ReplySender reply, MailWorkerStarter startMailWorker,
                     TickSource ticks = {});

  // One complete data request of size bytes from user (host: the user's host name).
  void Handle(TMyNameUser& user, const std::string& host, const uint8_t* payload, int32_t size);

  // With these, what answers a change that went to a group's journal waits for its sync.
  void SetDurableAcks(std::shared_ptr<DurableAcks> acks) { durable_ = std::move(acks); }

 private:
  struct Request {
    TMyNameUser& user;
    TMyDBUser& group;
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
  void Send(TMyNameUser& target, const uint8_t* data, int32_t size, const std::string& host,
            int scope);
  // The journal's entry count before a change, and the hold of the requester's answers after it
  // when the change was journalled.
  static uint64_t JournalMark(const TMyDBUser& group);
  void HoldIfJournalled(Request& r, uint64_t mark);

  Server& server_;
  ReplySender reply_;
  MailWorkerStarter startMailWorker_;
  TickSource ticks_;
  std::shared_ptr<DurableAcks> durable_;
  // The received request, zero-padded (or realigned) to 2351 bytes; answers are built in it.
  wire::RequestPackage package_{};
  std::chrono::steady_clock::time_point received_{};  // when the request being handled arrived
};

}  // namespace qv::service
