#pragma once
// The member API over the server's group table: the record store for reading and changing days,
// the durable acknowledgments for tickets, the reply sender for forwarding to the native members
// and the sinks of the other front ends. The native front end (request dispatch) uses it too,
// through the same calls, plus the slot id assignment that only the native protocol has.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/durable_acks.h"
#include "service/member_api.h"
#include "state/server.h"

namespace qv::service {

class MemberService final : public MemberApi {
 public:
  // How a change reaches the native members: SendReplyPackage unless a test records instead.
  using Forwarder =
      std::function<void(state::TMyNameUser& target, const uint8_t* data, int32_t size,
                         const std::string& host, int scope, const void* except)>;

  // Installs itself as the server's observer hook, so that what the reply sender hands the
  // native members also reaches the attached sinks.
  MemberService(state::Server& server, std::shared_ptr<DurableAcks> durable,
                Forwarder forward = {});
  ~MemberService() override;
  MemberService(const MemberService&) = delete;
  MemberService& operator=(const MemberService&) = delete;

  bool ReadDays(MemberRef member, double date, int32_t days, std::vector<wire::DayRecord>& out,
                std::string& reason) override;
  ChangeOutcome Apply(MemberRef member, const wire::RequestPackage& request, int32_t size,
                      MemberSink* origin) override;
  void WhenDurable(uint64_t ticket, std::function<void()> done) override;
  void SetMark(MemberRef member, const wire::RequestPackage& request, MemberSink* origin) override;
  state::SharedBytes StatusTable() const override;
  void Attach(int32_t group, MemberSink& sink) override;
  void Detach(MemberSink& sink) override;

  // Sets or clears a mark of size bytes as received (the native front end's forward size).
  void SetMark(MemberRef member, const wire::RequestPackage& request, int32_t size,
               MemberSink* origin);
  // Request 1000/51: a new id for a slot of the day, held by the day. slotId is 0 when the
  // store refused or failed; the id is announced to the other hosts (code 52) by the caller.
  ChangeOutcome AssignSlotId(MemberRef member, const wire::RequestPackage& request,
                             int32_t& slotId);
  // Holds what is sent to a native member from now on until the outcome's change is durable.
  void HoldUntilDurable(state::TMyNameUser& user, const ChangeOutcome& outcome);

  // The reply sender's hook: a package for the native members of group (-1: of every group).
  void Observe(int32_t group, const uint8_t* data, int32_t size, const void* except);

 private:
  struct Observer {
    int32_t group;
    MemberSink* sink;
  };

  state::TMyNameUser* Find(MemberRef member);
  wire::RequestPackage& NoticeOf(int32_t group);
  ChangeOutcome Outcome(const store::StoreOutcome& stored, state::TMyDBUser& group);
  void SendWeek(state::TMyNameUser& user, state::TMyDBUser& group, double date, MemberSink* origin);

  state::Server& server_;
  std::shared_ptr<DurableAcks> durable_;
  Forwarder forward_;
  // A sink detached while a package is handed round is cleared (sink null) and erased once the
  // round is over, so that a round walks the list in place, without a copy or a search per sink.
  std::vector<Observer> observers_;
  int walks_ = 0;  // rounds under way (a sink may cause another while it receives)
  // Each group's change notice: what the last edit replaced (a removed line stays there for a
  // later reinsertion, codes 26 and 27).
  std::vector<wire::RequestPackage> notices_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for the observer hook
};

}  // namespace qv::service
