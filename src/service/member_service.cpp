#include "service/member_service.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "service/reply_sender.h"
#include "service/request_package.h"
#include "store/record_store.h"

namespace qv::service {
namespace {

// Marks of different users differ by this much once the owner's index is added.
constexpr double kMarkUserSpacing = 100000;

size_t MarksHeld(const std::vector<state::MarkRecord>& marks, const state::TMyNameUser& user) {
  return static_cast<size_t>(
      std::count_if(marks.begin(), marks.end(),
                    [&user](const state::MarkRecord& m) { return m.Owner == &user; }));
}

ChangeOutcome RefusedOutcome(std::string why) {
  ChangeOutcome outcome;
  outcome.status = ChangeStatus::Refused;
  outcome.reason = std::move(why);
  return outcome;
}

}  // namespace

MemberService::MemberService(state::Server& server, std::shared_ptr<DurableAcks> durable,
                             Forwarder forward)
    : server_(server), durable_(std::move(durable)), forward_(std::move(forward)) {
  if (!forward_) {
    forward_ = [&server](state::TMyNameUser& target, const uint8_t* data, int32_t size,
                         const std::string& host, int scope, const void* except) {
      SendReplyPackage(server, target, data, size, host, scope, except);
    };
  }
  // The hook outlives this service when the server's handlers go last: it checks the service is
  // still there instead of this service clearing it from a destructor.
  std::weak_ptr<bool> alive = alive_;
  server_.runtime.handlers.Observers = [this, alive](int32_t group, const uint8_t* data,
                                                     int32_t size, const void* except) {
    if (!alive.expired()) Observe(group, data, size, except);
  };
}

MemberService::~MemberService() = default;

state::TMyNameUser* MemberService::Find(MemberRef member) {
  if (member.group < 0 || static_cast<size_t>(member.group) >= server_.roster.groups.size()) {
    return nullptr;
  }
  state::TMyDBUser& group = server_.roster.groups[static_cast<size_t>(member.group)];
  if (member.user < 0 || static_cast<size_t>(member.user) >= group.Users.size()) return nullptr;
  state::TMyNameUser& user = group.Users[static_cast<size_t>(member.user)];
  return user.Valid ? &user : nullptr;
}

wire::RequestPackage& MemberService::NoticeOf(int32_t group) {
  if (notices_.size() < server_.roster.groups.size()) notices_.resize(server_.roster.groups.size());
  return notices_.at(static_cast<size_t>(group));
}

ChangeOutcome MemberService::Outcome(const store::StoreOutcome& stored, state::TMyDBUser& group) {
  ChangeOutcome outcome;
  outcome.status = stored.status;
  outcome.reason = stored.reason;
  if (stored.status == ChangeStatus::Journalled && durable_ && group.Journal) {
    outcome.ticket = durable_->Note(group.Journal);
  } else if (stored.status == ChangeStatus::Journalled) {
    outcome.status = ChangeStatus::Stored;  // nobody syncs: as good as written
  }
  if (stored.status == ChangeStatus::Refused)
    state::Metrics::Add(server_.runtime.metrics.editsRefused);
  if (stored.status == ChangeStatus::WriteFailed)
    state::Metrics::Add(server_.runtime.metrics.editsWriteFailed);
  return outcome;
}

bool MemberService::ReadDays(MemberRef member, double date, int32_t days,
                             std::vector<wire::DayRecord>& out, std::string& reason) {
  if (Find(member) == nullptr) {
    reason = "no such member";
    return false;
  }
  state::TMyDBUser& group = server_.roster.groups[static_cast<size_t>(member.group)];
  const int32_t count = std::clamp(days, 1, wire::days_reply::kMaxDays);
  if (group.FileName.empty()) {
    // A group without a datafile keeps no days: each reads as the blank day of the group's grid.
    out.assign(static_cast<size_t>(count), *group.BlankRecord);
    for (int32_t i = 0; i < count; ++i) {
      wire::SetDayDate(out[static_cast<size_t>(i)], wire::DayKey(date) + i);
    }
    return true;
  }
  try {
    store::ReadDays(group, server_.runtime.log, count, date);
  } catch (const std::exception& e) {
    reason = e.what();
    return false;
  }
  out.resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::memcpy(out[static_cast<size_t>(i)].data(), group.Week->Day(i), wire::kDayRecordSize);
  }
  return true;
}

void MemberService::SendWeek(state::TMyNameUser& user, state::TMyDBUser& group, double date,
                             MemberSink* origin) {
  try {
    store::ReadDays(group, server_.runtime.log, wire::days_reply::kMaxDays, date);
  } catch (const std::exception&) {
    server_.runtime.log.WriteMsg(wire::MsgId::RequestProcessingError,
                                 user.HostName + " (Copy Data)");
    return;
  }
  uint8_t* header = group.Week->Header();
  std::memset(header, 0, wire::days_reply::kHeaderSize);
  wire::SetCodes(header, wire::code::kReply, wire::subcode::kWeekReply);
  wire::SetDoubleAt(header, wire::days_reply::kDateOffset, date);
  forward_(user, header, wire::days_reply::kWeekReplySize, user.HostName, kScopeGroup, origin);
}

ChangeOutcome MemberService::Apply(MemberRef member, const wire::RequestPackage& request,
                                   int32_t size, MemberSink* origin) {
  state::TMyNameUser* user = Find(member);
  if (user == nullptr) return RefusedOutcome("no such member");
  state::TMyDBUser& group = server_.roster.groups[static_cast<size_t>(member.group)];
  if (group.FileName.empty()) return RefusedOutcome("the group has no datafile");
  size = std::clamp<int32_t>(size, wire::request::kHeaderSize, wire::request::kSize);
  const int32_t requestCode = wire::Int32At(request.data(), wire::request::kCodeOffset);
  wire::RequestPackage& notice = NoticeOf(member.group);
  ResetChangeNotice(notice, request);

  if (requestCode == wire::code::kCopyDay) {
    group.Busy = true;
    ChangeOutcome outcome =
        Outcome(store::CopyDay(group, server_.runtime.log, request.data()), group);
    if (outcome.Accepted()) {
      // The week goes to every member; a native requester's copy waits for the sync.
      if (origin == nullptr) HoldUntilDurable(*user, outcome);
      SendWeek(*user, group, wire::DoubleAt(request.data(), wire::request::kDateOffset), origin);
    }
    group.Busy = false;
    return outcome;
  }

  const int32_t index = wire::Int32At(request.data(), wire::request::kSubcodeOffset);
  ChangeOutcome outcome = Outcome(
      store::EditDay(group, server_.runtime.log, requestCode, index, request.data(), notice.data()),
      group);
  if (!outcome.Accepted()) return outcome;
  outcome.notice = std::make_shared<wire::RequestPackage>(notice);
  // The other members may see the change before it is durable; the acknowledgment waits. A
  // change from another front end goes to every native member, its own host's included.
  forward_(*user, request.data(), size, user->HostName,
           origin == nullptr ? kScopeGroupOtherHost : kScopeGroup, origin);
  return outcome;
}

ChangeOutcome MemberService::AssignSlotId(MemberRef member, const wire::RequestPackage& request,
                                          int32_t& slotId) {
  slotId = 0;
  state::TMyNameUser* user = Find(member);
  if (user == nullptr) return RefusedOutcome("no such member");
  state::TMyDBUser& group = server_.roster.groups[static_cast<size_t>(member.group)];
  if (group.FileName.empty()) return RefusedOutcome("the group has no datafile");
  const int32_t slot = wire::Int32At(request.data(), wire::request::kIndex2Offset);
  wire::RequestPackage& notice = NoticeOf(member.group);
  ResetChangeNotice(notice, request);
  auto day = std::make_unique<wire::DayRecord>();
  ChangeOutcome outcome =
      Outcome(store::EditDay(group, server_.runtime.log, wire::code::kAssignSlotId, slot,
                             request.data(), notice.data(), day.get()),
              group);
  if (outcome.Accepted()) slotId = wire::SlotId(*day, slot);
  return outcome;
}

void MemberService::HoldUntilDurable(state::TMyNameUser& user, const ChangeOutcome& outcome) {
  if (durable_ && outcome.status == ChangeStatus::Journalled) {
    durable_->HoldUntil(user, outcome.ticket);
  }
}

void MemberService::WhenDurable(uint64_t ticket, std::function<void()> done) {
  if (durable_) {
    durable_->WhenDurable(ticket, std::move(done));
  } else {
    done();
  }
}

void MemberService::SetMark(MemberRef member, const wire::RequestPackage& request,
                            MemberSink* origin) {
  SetMark(member, request, static_cast<int32_t>(wire::request::kHeaderSize), origin);
}

void MemberService::SetMark(MemberRef member, const wire::RequestPackage& request, int32_t size,
                            MemberSink* origin) {
  state::TMyNameUser* user = Find(member);
  if (user == nullptr) return;
  state::TMyDBUser& group = server_.roster.groups[static_cast<size_t>(member.group)];
  wire::RequestPackage package = request;
  uint8_t* p = package.data();
  auto& marks = group.Subscriptions;
  const bool set = p[wire::request::kMarkFlagOffset] != 0;
  if (set && MarksHeld(marks, *user) >= server_.setup.limits.marksPerUser) {
    // Refused: neither kept nor passed on, so the others never see a mark it cannot clear.
    server_.runtime.log.Write("Mark refused: " + user->UserName + " (" + user->HostName +
                              ") holds " + std::to_string(server_.setup.limits.marksPerUser) +
                              " marks");
    return;
  }
  const double mark =
      wire::DoubleAt(p, wire::request::kMarkOffset) + user->UserIndex * kMarkUserSpacing;
  wire::SetDoubleAt(p, wire::request::kMarkOffset, mark);
  forward_(*user, p, std::clamp<int32_t>(size, 0, wire::request::kSize), user->HostName,
           origin == nullptr ? kScopeGroupOtherHost : kScopeGroup, origin);
  if (set) {
    state::MarkRecord record;
    record.Owner = user;
    std::memcpy(record.Header.data(), p, wire::request::kHeaderSize);
    marks.push_back(record);
    return;
  }
  const double key = std::trunc(mark);
  const auto first = std::find_if(marks.begin(), marks.end(), [&](const state::MarkRecord& m) {
    return m.Owner == user &&
           std::trunc(wire::DoubleAt(m.Header.data(), wire::request::kMarkOffset)) == key;
  });
  if (first != marks.end()) marks.erase(first);
}

state::SharedBytes MemberService::StatusTable() const {
  return std::make_shared<const std::vector<uint8_t>>(server_.roster.statusTable);
}

void MemberService::Attach(int32_t group, MemberSink& sink) {
  Detach(sink);
  observers_.push_back(Observer{group, &sink});
}

void MemberService::Detach(MemberSink& sink) {
  for (Observer& o : observers_) {
    if (o.sink == &sink) o.sink = nullptr;
  }
  if (walks_ == 0) std::erase_if(observers_, [](const Observer& o) { return o.sink == nullptr; });
}

void MemberService::Observe(int32_t group, const uint8_t* data, int32_t size, const void* except) {
  if (observers_.empty() || size < 0 || (size > 0 && data == nullptr)) return;
  state::SharedBytes payload;
  // Sinks attached while the package is handed round get the next one; a sink detached meanwhile
  // is skipped. Entries are read by index: a sink that attaches another may move the list.
  auto endWalk = [this] {
    if (--walks_ == 0) {
      std::erase_if(observers_, [](const Observer& o) { return o.sink == nullptr; });
    }
  };
  ++walks_;
  try {
    const size_t count = observers_.size();
    for (size_t i = 0; i < count; ++i) {
      const Observer o = observers_[i];
      if (o.sink == nullptr || o.sink == except || (group >= 0 && o.group != group)) continue;
      if (!payload) payload = std::make_shared<const std::vector<uint8_t>>(data, data + size);
      o.sink->Receive(payload);
    }
  } catch (...) {
    endWalk();
    throw;
  }
  endWalk();
}

}  // namespace qv::service
