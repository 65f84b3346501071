#include "service/dispatch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>

#include "platform/text_utils.h"
#include "platform/time.h"
#include "store/record_store.h"

namespace qv::service {

DataRequestHandler::DataRequestHandler(state::Server& server, ReplySender reply,
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
        [this](state::TMyNameUser& target, const uint8_t* data, int32_t size,
               const std::string& host, int scope,
               const void*) { Send(target, data, size, host, scope); });
  }
}

void DataRequestHandler::Send(state::TMyNameUser& target, const uint8_t* data, int32_t size,
                              const std::string& host, int scope) {
  if (reply_) reply_(target, data, size, host, scope);
}

void DataRequestHandler::Handle(state::TMyNameUser& user, const std::string& host,
                                const uint8_t* payload, int32_t size) {
  received_ = std::chrono::steady_clock::now();
  state::TMyDBUser& group = server_.roster.groups.at(static_cast<size_t>(user.GroupIndex));
  switch (LoadRequest(payload, size, package_)) {
    case Alignment::Aligned:
      break;
    case Alignment::Corrected:
      server_.runtime.log.Write(server_.runtime.log.Msg(wire::MsgId::IncorrectValues) + " " +
                                server_.runtime.log.Msg(wire::MsgId::ValuesCorrected));
      break;
    case Alignment::Incorrect:
      server_.runtime.log.WriteMsg(wire::MsgId::IncorrectValues);
      state::Metrics::Add(server_.runtime.metrics.refusedMalformed);
      user.Fault = true;
      return;
  }
  Request r{user,
            group,
            host,
            wire::Int32At(package_.data(), wire::request::kCodeOffset),
            wire::Int32At(package_.data(), wire::request::kSubcodeOffset),
            std::clamp<int32_t>(size, 0, wire::request::kSize)};

  if (r.code == wire::code::kPoll) return Poll(r);
  if (r.code == wire::code::kReply && r.subcode == wire::subcode::kPollAnswer) return PollAnswer(r);
  if (r.code == wire::code::kMark) return Mark(r);
  if (r.code == wire::code::kNetworkReport) {
    server_.runtime.log.WriteMsg(wire::MsgId::NetworkSettingsError, user.HostName);
    return;
  }

  r.host = platform::LowerCase(r.host);
  if (r.code == wire::code::kCopyDay) return CopyDay(r);
  if (r.code == wire::code::kRequest) {
    switch (r.subcode) {
      case wire::subcode::kSlotId:
        return SlotId(r);
      case wire::subcode::kDays:
        return Days(r);
      case wire::subcode::kFetchMail:
        if (startMailWorker_) startMailWorker_(user);
        return;
      case wire::subcode::kHello:
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
  for (state::TMyNameUser& member : r.group.Users) {
    member.PollAnswered = false;
    if (member.UserIndex != r.user.UserIndex && member.Connected) otherConnected = true;
  }
  if (otherConnected) {
    Send(r.user, package_.data(), r.size, r.host, kScopeGroupOtherHost);
    return;
  }
  wire::SetCodes(package_.data(), wire::code::kReply, wire::subcode::kPollAnswer);
  Send(r.user, package_.data(), wire::kPollAnswerSize, r.host, kScopeUser);
}

void DataRequestHandler::PollAnswer(Request& r) {
  state::TMyNameUser* owner = r.group.PollOwner;
  if (owner == nullptr) return;  // no poll pending
  r.user.PollAnswered = true;
  for (const state::TMyNameUser& member : r.group.Users) {
    if (member.UserIndex != owner->UserIndex && member.Connected && !member.PollAnswered) return;
  }
  for (state::TMyNameUser& member : r.group.Users) member.PollAnswered = false;
  Send(*owner, package_.data(), wire::kPollAnswerSize, owner->HostName, kScopeUser);
  r.group.PollOwner = nullptr;
}

void DataRequestHandler::Mark(Request& r) {
  members_->SetMark(Ref(r.user), package_, r.size, nullptr);
}

void DataRequestHandler::Refuse(Request& r) {
  state::Metrics::Add(server_.runtime.metrics.refusedRequests);
  BuildRefusal(package_);
  Send(r.user, package_.data(), wire::request::kSize, r.host, kScopeUser);
}

void DataRequestHandler::CopyDay(Request& r) {
  // The copied week answers the requester once it is durable; the others see it at once.
  if (!members_->Apply(Ref(r.user), package_, r.size, nullptr).Accepted()) Refuse(r);
}

void DataRequestHandler::SlotId(Request& r) {
  uint8_t* p = package_.data();
  const int32_t slot = wire::Int32At(p, wire::request::kIndex2Offset);
  // A slot outside 0..69, or a day the store refuses to create, is refused like an edit.
  if (!wire::day::IsSlotIndex(slot)) return Refuse(r);
  int32_t slotId = 0;
  if (!r.group.FileName.empty()) {
    const ChangeOutcome outcome = members_->AssignSlotId(Ref(r.user), package_, slotId);
    if (!outcome.Accepted()) return Refuse(r);
    members_->HoldUntilDurable(r.user, outcome);
  }
  wire::SetInt32At(p, wire::request::kSlotIdOffset, slotId);
  wire::SetCodes(p, wire::code::kReply, wire::subcode::kSlotIdReply);
  Send(r.user, p, wire::request::kSize, r.host, kScopeUser);
  wire::SetCodes(p, wire::code::kSlotIdAssigned, slot);
  Send(r.user, p, wire::request::kSize, r.host, kScopeGroupOtherHost);
}

void DataRequestHandler::Days(Request& r) {
  state::TMyDBUser& group = r.group;
  const uint8_t* p = package_.data();
  const int32_t requested = wire::LoadField<uint16_t>(p + wire::request::kDaysOffset);
  const int32_t days = std::min<int32_t>(requested, wire::days_reply::kMaxDays);
  const double date = wire::DoubleAt(p, wire::request::kDateOffset);
  try {
    store::ReadDays(group, server_.runtime.log, requested, date);
  } catch (const std::exception& e) {
    server_.runtime.log.Write("Database for " + group.Alias + ". " + e.what());
    return;  // nothing more is sent, the marks neither
  }
  uint8_t* header = group.Week->Header();
  std::memset(header, 0, wire::days_reply::kHeaderSize);
  wire::SetCodes(header, wire::code::kReply, wire::subcode::kDaysReply);
  wire::SetDoubleAt(header, wire::days_reply::kDateOffset, date);
  // The count of the records that follow, so that header and length agree.
  wire::SetInt32At(header, wire::days_reply::kCountOffset, days);
  try {
    Send(r.user, header, wire::days_reply::Size(days), r.host, kScopeUser);
    state::Metrics::Add(server_.runtime.metrics.weekReads);
  } catch (const std::exception& e) {
    server_.runtime.log.WriteMsg(wire::MsgId::RequestProcessingError, r.host);
    server_.runtime.log.Write(e.what());
  }
  SendMarksOfOthers(r);
}

void DataRequestHandler::SendMarksOfOthers(Request& r) {
  for (const state::MarkRecord& mark : r.group.Subscriptions) {
    if (mark.Owner == &r.user) continue;
    Send(r.user, mark.Header.data(), static_cast<int32_t>(wire::request::kHeaderSize), r.host,
         kScopeUser);
  }
}

void DataRequestHandler::Hello(Request& r) {
  BuildHelloReply(package_, r.user.UserName, r.group.FirstDate);
  Send(r.user, package_.data(), wire::request::kSize, r.host, kScopeUser);
}

void DataRequestHandler::Edit(Request& r) {
  wire::RequestPackage acknowledgment;
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
      server_.runtime.log.Write("Warning! Database processing - time:" + std::to_string(took));
    }
    acknowledgment = *outcome.notice;
  }
  BuildAcknowledgment(acknowledgment, package_);
  Send(r.user, acknowledgment.data(), wire::request::kSize, r.host, kScopeUser);
  state::Metrics::Add(server_.runtime.metrics.editsAcknowledged);
  server_.runtime.metrics.ackLatency.Observe(std::chrono::duration_cast<std::chrono::microseconds>(
                                                 std::chrono::steady_clock::now() - received_)
                                                 .count());
}

}  // namespace qv::service
