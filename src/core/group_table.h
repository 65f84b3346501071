#pragma once
// The group table: one TMyDBUser per configured group, each owning its TMyNameUser records.
// Sized once at start-up and never resized, so a user is addressed as (group, user) index and
// references stay valid for the whole run.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/connection_state.h"
#include "service/send_queue.h"
#include "service/worker_entry.h"
#include "store/group_datafile.h"

namespace qv::net {
class ClientSocket;
}

namespace qv {

struct TMyNameUser {
  bool Valid = false;
  std::atomic<bool> Connected{false};
  int32_t UserIndex = 0;
  int32_t GroupIndex = 0;
  std::atomic<uint32_t> LastSendTick{0};
  std::shared_ptr<net::ClientSocket> ClientSocket;  // outgoing connection to HostName
  std::atomic<int32_t> ServerSocketHandle{-1};      // accepted incoming connection; -1 = none
  int32_t ReconnectCount = 0;
  std::string UserName;
  std::string HostName;  // lower case
  int32_t StatusSlotPos = 0;
  net::TmyConnection Connection;
  std::atomic<int32_t> SendIssued{0};
  std::atomic<int32_t> SendStarted{0};
  std::atomic<int32_t> SendCompleted{0};
  std::atomic<bool> Fault{false};
  bool PollAnswered = false;
  std::vector<service::WorkerEntry> Workers;  // guarded by the send lock
  // Entries of Workers, readable without the send lock (set whenever Workers changes size).
  std::atomic<int32_t> WorkerCount{0};
  // What waits to be sent to the user, in SendIssued order; drained by one worker at a time.
  service::SendQueue Queue;
  // Signalled whenever SendStarted or SendCompleted changes, so that a send worker waiting for
  // its turn wakes at once. Always the innermost lock.
  std::mutex SendTurnMutex;
  std::condition_variable SendTurnChanged;
};

constexpr size_t kMarkHeaderSize = 32;

// A mark held by a user: the owner and the 32-byte header of its 7001 request.
struct MarkRecord {
  TMyNameUser* Owner = nullptr;
  std::array<uint8_t, kMarkHeaderSize> Header{};
};

struct TMyDBUser : store::GroupDatafile {
  int32_t ConnectedUsers = 0;
  std::string TimeBegin, TimeEnd, Step;
  bool ArchiveLink = false;
  std::vector<TMyNameUser> Users;
  int32_t UserCount = 0;
  std::vector<MarkRecord> Subscriptions;
  TMyNameUser* PollOwner = nullptr;
};

using GroupTable = std::vector<TMyDBUser>;

}  // namespace qv
