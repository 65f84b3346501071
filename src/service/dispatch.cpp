#include "service/dispatch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>

#include "platform/time.h"
#include "store/record_store.h"
#include "store/text_utils.h"

namespace qv::service {

DataRequestHandler::DataRequestHandler(Server& server, ReplySender reply,
                                       MailWorkerStarter startMailWorker, TickSource ticks,
                                       std::shared_ptr<MemberService> members)
    : server_(server),
      reply_(std::move(reply)),
      startMailWorker_(std::move(startMailWorker)),
      ticks_(ticks ? std::move(ticks) : TickSource(&platform::TickCount)),
      members_(std::move(members)) {
  if (!members_) {
    members_ = std::make_shared<MemberService>(
        server_, nullptr,
        [this](TMyNameUser& target, const uint8_t* data, int32_t size, const std::string& host,
               int scope, const void*) { Send(target, data, size, host, scope); });
  }
}

void DataRequestHandler::Send(TMyNameUser& target, const uint8_t* data, int32_t size,
                              const std::string& host, int scope) {
  if (reply_) reply_(target, data, size, host, scope);
}

void DataRequestHandler::Handle(TMyNameUser& user, const std::string& host, const uint8_t* payload,
                                int32_t size) {
  received_ = std::chrono::steady_clock::now();
  TMyDBUser& group = server_.groups.at(static_cast<size_t>(user.GroupIndex));
  switch (LoadRequest(payload, size, package_)) {
    case Alignment::Aligned:
      break;
    case Alignment::Corrected:
      server_.log.Write(server_.log.Msg(MsgId::IncorrectValues) + " " +
                        server_.log.Msg(MsgId::ValuesCorrected));
      break;
    case Alignment::Incorrect:
      server_.log.WriteMsg(MsgId::IncorrectValues);
      Metrics::Add(server_.metrics.refusedMalformed);
      user.Fault = true;
      return;
  }
  Request r{user,
            group,
            host,
            Int32At(package_.data(), request::kCodeOffset),
            Int32At(package_.data(), request::kSubcodeOffset),
            std::clamp<int32_t>(size, 0, request::kSize)};

  if (r.code == code::kPoll) return Poll(r);
  if (r.code == code::kReply && r.subcode == subcode::kPollAnswer) return PollAnswer(r);
  if (r.code == code::kMark) return Mark(r);
  if (r.code == code::kNetworkReport) {
    server_.log.WriteMsg(MsgId::NetworkSettingsError, user.HostName);
    return;
  }

  r.host = store::LowerCase(r.host);
  if (r.code == code::kCopyDay) return CopyDay(r);
  if (r.code == code::kRequest) {
    switch (r.subcode) {
      case subcode::kSlotId:
        return SlotId(r);
      case subcode::kDays:
        return Days(r);
      case subcode::kFetchMail:
        if (startMailWorker_) startMailWorker_(user);
        return;
      case subcode::kHello:
        return Hello(r);
      default:
        return;  // nothing is answered
    }
  }
  Edit(r);
}

void DataRequestHandler::Poll(Request& r) {
  r.group.PollOwner = &r.user;
  bool otherConnected = false;
  for (TMyNameUser& member : r.group.Users) {
    member.PollAnswered = false;
    if (member.UserIndex != r.user.UserIndex && member.Connected) otherConnected = true;
  }
  if (otherConnected) {
    Send(r.user, package_.data(), r.size, r.host, kScopeGroupOtherHost);
    return;
  }
  SetCodes(package_.data(), code::kReply, subcode::kPollAnswer);
  Send(r.user, package_.data(), kPollAnswerSize, r.host, kScopeUser);
}

void DataRequestHandler::PollAnswer(Request& r) {
  TMyNameUser* owner = r.group.PollOwner;
  if (owner == nullptr) return;  // no poll pending
  r.user.PollAnswered = true;
  for (const TMyNameUser& member : r.group.Users) {
    if (member.UserIndex != owner->UserIndex && member.Connected && !member.PollAnswered) return;
  }
  for (TMyNameUser& member : r.group.Users) member.PollAnswered = false;
  Send(*owner, package_.data(), kPollAnswerSize, owner->HostName, kScopeUser);
  r.group.PollOwner = nullptr;
}

void DataRequestHandler::Mark(Request& r) {
  members_->SetMark(Ref(r.user), package_, r.size, nullptr);
}

void DataRequestHandler::Refuse(Request& r) {
  Metrics::Add(server_.metrics.refusedRequests);
  BuildRefusal(package_);
  Send(r.user, package_.data(), request::kSize, r.host, kScopeUser);
}

void DataRequestHandler::CopyDay(Request& r) {
  // The copied week answers the requester once it is durable; the others see it at once.
  if (!members_->Apply(Ref(r.user), package_, r.size, nullptr).Accepted()) Refuse(r);
}

void DataRequestHandler::SlotId(Request& r) {
  uint8_t* p = package_.data();
  const int32_t slot = Int32At(p, request::kIndex2Offset);
  // A slot outside 0..69, or a day the store refuses to create, is refused like an edit.
  if (!store::day::IsSlotIndex(slot)) return Refuse(r);
  int32_t slotId = 0;
  if (!r.group.FileName.empty()) {
    const ChangeOutcome outcome = members_->AssignSlotId(Ref(r.user), package_, slotId);
    if (!outcome.Accepted()) return Refuse(r);
    members_->HoldUntilDurable(r.user, outcome);
  }
  SetInt32At(p, request::kSlotIdOffset, slotId);
  SetCodes(p, code::kReply, subcode::kSlotIdReply);
  Send(r.user, p, request::kSize, r.host, kScopeUser);
  SetCodes(p, code::kSlotIdAssigned, slot);
  Send(r.user, p, request::kSize, r.host, kScopeGroupOtherHost);
}

void DataRequestHandler::Days(Request& r) {
  TMyDBUser& group = r.group;
  const uint8_t* p = package_.data();
  const int32_t requested = LoadField<uint16_t>(p + request::kDaysOffset);
  const int32_t days = std::min<int32_t>(requested, days_reply::kMaxDays);
  const double date = DoubleAt(p, request::kDateOffset);
  try {
    store::ReadDays(group, server_.log, requested, date);
  } catch (const std::exception& e) {
    server_.log.Write("Database for " + group.Alias + ". " + e.what());
    return;  // nothing more is sent, the marks neither
  }
  uint8_t* header = group.Week->Header();
  std::memset(header, 0, days_reply::kHeaderSize);
  SetCodes(header, code::kReply, subcode::kDaysReply);
  SetDoubleAt(header, days_reply::kDateOffset, date);
  // The count of the records that follow, so that header and length agree.
  SetInt32At(header, days_reply::kCountOffset, days);
  try {
    Send(r.user, header, days_reply::Size(days), r.host, kScopeUser);
    Metrics::Add(server_.metrics.weekReads);
  } catch (const std::exception& e) {
    server_.log.WriteMsg(MsgId::RequestProcessingError, r.host);
    server_.log.Write(e.what());
  }
  SendMarksOfOthers(r);
}

void DataRequestHandler::SendMarksOfOthers(Request& r) {
  for (const MarkRecord& mark : r.group.Subscriptions) {
    if (mark.Owner == &r.user) continue;
    Send(r.user, mark.Header.data(), static_cast<int32_t>(request::kHeaderSize), r.host,
         kScopeUser);
  }
}

void DataRequestHandler::Hello(Request& r) {
  BuildHelloReply(package_, r.user.UserName, r.group.FirstDate);
  Send(r.user, package_.data(), request::kSize, r.host, kScopeUser);
}

void DataRequestHandler::Edit(Request& r) {
  RequestPackage acknowledgment;
  if (r.group.FileName.empty()) {
    // A group without a datafile keeps nothing: the edit is answered and passed on to nobody.
    acknowledgment.fill(0);
    ResetChangeNotice(acknowledgment, package_);
  } else {
    const uint32_t before = ticks_();
    const ChangeOutcome outcome = members_->Apply(Ref(r.user), package_, r.size, nullptr);
    const uint32_t after = ticks_();
    if (!outcome.Accepted()) return Refuse(r);
    // The other hosts have the change; the acknowledgment waits until it is durable.
    members_->HoldUntilDurable(r.user, outcome);
    const int32_t took = platform::TickDiff(after, before);
    if (took > kSlowEditMs) {
      server_.log.Write("Warning! Database processing - time:" + std::to_string(took));
    }
    acknowledgment = *outcome.notice;
  }
  BuildAcknowledgment(acknowledgment, package_);
  Send(r.user, acknowledgment.data(), request::kSize, r.host, kScopeUser);
  Metrics::Add(server_.metrics.editsAcknowledged);
  server_.metrics.ackLatency.Observe(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - received_)
                                         .count());
}

}  // namespace qv::service
