#pragma once
// The member API: the one way a front end acts as a member of a group. The native TCP front end
// (request dispatch of packages) and the browser front end both go through it, so that every
// edit takes the same road: stored (journalled, acknowledged after its sync), forwarded to the
// group's other members, or refused and never forwarded.
//
// Every call runs on the event thread. A front end on threads of its own posts to the server's
// event loop and hands results back to its own threads; a MemberSink is called on the event
// thread and must not block (it queues what it receives).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/change_outcome.h"
#include "wire/day_record.h"
#include "wire/packages.h"

namespace qv::service {

using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Who a front end acts for: one configured user of one group (indexes into the group table).
struct MemberRef {
  int32_t group = -1;
  int32_t user = -1;
};

// What became of a change: Stored, Journalled (durable once the sync of `ticket` is reported),
// Refused or WriteFailed.
using store::ChangeStatus;

struct ChangeOutcome {
  ChangeStatus status = ChangeStatus::Refused;
  uint64_t ticket = 0;  // Journalled: WhenDurable(ticket) runs once the change is on disk
  std::string reason;   // Refused, WriteFailed: why, as a log line says it
  // The change notice: the request's codes with what the edit replaced (the old texts), from
  // which the native acknowledgment (3000) is built.
  std::shared_ptr<const wire::RequestPackage> notice;

  bool Accepted() const {
    return status == ChangeStatus::Stored || status == ChangeStatus::Journalled;
  }
};

// Receives, in order, every package the group's native members receive from the server:
// forwarded changes, marks, copied weeks, the status table and its slot updates, notices. The
// payload is the package without its length word.
class MemberSink {
 public:
  virtual ~MemberSink() = default;
  virtual void Receive(const SharedBytes& payload) = 0;
};

class MemberApi {
 public:
  virtual ~MemberApi() = default;

  // Reads `days` (1..7) days from `date` on; days without a record come back blank with their
  // date. False (with the reason) when the datafile cannot be read.
  virtual bool ReadDays(MemberRef member, double date, int32_t days,
                        std::vector<wire::DayRecord>& out, std::string& reason) = 0;

  // Applies an edit request (codes 2..41 of the native protocol, the edit code at offset 0 and
  // its slot or line index at offset 4) or a copy of a day (code 50; the week from the target
  // day then goes to the other members) as `member`. size: the bytes of the
  // request as received (at most 2351), which is what the other native members are forwarded.
  // origin: the sink of the front end that asked (it gets no forward of its own change); none
  // for a native member, whose own host gets no forward.
  virtual ChangeOutcome Apply(MemberRef member, const wire::RequestPackage& request, int32_t size,
                              MemberSink* origin) = 0;

  // Runs done once the journal sync of ticket is reported (at once for ticket 0 or when already
  // synced).
  virtual void WhenDurable(uint64_t ticket, std::function<void()> done) = 0;

  // Sets (flag 1) or clears (0) a mark (code 7001) as member; the other members see it.
  virtual void SetMark(MemberRef member, const wire::RequestPackage& request,
                       MemberSink* origin) = 0;

  // The whole status table (int32 5000, then one 86-byte slot per configured user).
  virtual SharedBytes StatusTable() const = 0;

  // From now until Detach, sink receives what the group's native members receive.
  virtual void Attach(int32_t group, MemberSink& sink) = 0;
  virtual void Detach(MemberSink& sink) = 0;
};

}  // namespace qv::service
