#pragma once
// The group table: one TMyDBUser per configured group, each owning its TMyNameUser records.
// Sized once at start-up and never resized, so a user is addressed as (group, user) index and
// references stay valid for the whole run.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "state/connection_state.h"
#include "store/group_datafile.h"
#include "wire/packages.h"

namespace qv::state {

class ClientSocket;

// A user's outbox as the group table holds it. The service layer makes and uses it; here it is
// only owned, and destroyed with the user's record.
class UserOutbox {
 public:
  virtual ~UserOutbox() = default;
};

// Who may touch each field: "start-up" fields are written before the event loop and any other
// thread run and only read afterwards; "event thread" fields are touched by the event thread
// alone; the others name their lock or are atomic.
struct TMyNameUser {
  bool Valid = false;                     // start-up
  std::atomic<bool> Connected{false};     // atomic; cleared under the session lock at session end
  int32_t UserIndex = 0;                  // start-up
  int32_t GroupIndex = 0;                 // start-up
  std::atomic<uint32_t> LastSendTick{0};  // atomic
  // Outgoing connection to HostName; the pointer is start-up, the socket holds its own lock
  // around every send and is opened and closed on the event thread.
  std::shared_ptr<state::ClientSocket> ClientSocket;
  std::atomic<int32_t> ServerSocketHandle{-1};  // atomic; accepted incoming connection, -1 = none
  int32_t ReconnectCount = 0;                   // event thread
  std::string UserName;                         // start-up
  std::string HostName;                         // start-up; lower case
  int32_t StatusSlotPos = 0;                    // start-up
  TmyConnection Connection;                     // event thread
  std::atomic<bool> Fault{false};               // atomic
  // Start of the current (or last) session, milliseconds since the Unix epoch; 0 = none yet.
  std::atomic<int64_t> SessionStartMs{0};  // atomic
  bool PollAnswered = false;               // event thread
  // Everything about sending to the user: its ordered queue, the pieces held for a journal
  // sync, mail deliveries. Made by the service layer at first use. Event thread.
  std::shared_ptr<UserOutbox> Outbox;
};

// A mark held by a user: the owner and the 32-byte header of its 7001 request.
struct MarkRecord {
  TMyNameUser* Owner = nullptr;
  std::array<uint8_t, wire::request::kHeaderSize> Header{};
};

// The datafile fields (GroupDatafile) are touched on the event thread only.
struct TMyDBUser : store::GroupDatafile {
  int32_t ConnectedUsers = 0;             // event thread
  std::string TimeBegin, TimeEnd, Step;   // start-up
  bool ArchiveLink = false;               // start-up
  std::vector<TMyNameUser> Users;         // start-up (sized once; the records as above)
  int32_t UserCount = 0;                  // start-up
  std::vector<MarkRecord> Subscriptions;  // event thread
  TMyNameUser* PollOwner = nullptr;       // event thread
};

using GroupTable = std::vector<TMyDBUser>;

}  // namespace qv::state
