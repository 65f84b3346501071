#pragma once
// The server-wide values start-up reads from Server.ini, with their built-in values (those in
// force when start-up stops before reaching a key).
#include <cstdint>

namespace qv::config {

// Larger counts in Server.ini are settings errors, not allocations.
constexpr int32_t kMaxGroups = 10000;
constexpr int32_t kMaxUsersPerGroup = 10000;

struct Settings {
  uint8_t Language = 0;  // 1 = Russian
  bool Debug = false;
  int32_t Port = 6340;
  int32_t ClientPort = 6350;  // Port + 10
  bool DirectSend = true;
  bool TcpNoDelay = true;
  int32_t Reconnect = 3;
  int32_t CheckIntervalMs = 15000;
  bool SyncWrites = true;  // [Options] SyncWrites: datafile journal and syncs
};

}  // namespace qv::config
