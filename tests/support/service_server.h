#pragma once
// A whole server's groups built in-process without sockets: group "Team" with a datafile and
// three users on 127.0.0.2/3/4 (alice, bob, carol), group "Other" without a datafile and one
// user on 127.0.0.5 (dave), the POP3 directory with their mailboxes. The datafile and the
// mailboxes start empty, also when the directory was used before.
#include <string>

#include "platform/files.h"
#include "state/server.h"
#include "store/datafile.h"
#include "support/temp_dir.h"

namespace qv::test {

inline void AddServiceUser(state::TMyDBUser& group, int32_t groupIndex, int32_t userIndex,
                           const std::string& name, const std::string& host) {
  state::TMyNameUser& user = group.Users[static_cast<size_t>(userIndex)];
  user.Valid = true;
  user.GroupIndex = groupIndex;
  user.UserIndex = userIndex;
  user.UserName = name;
  user.HostName = host;
}

// server was made on dir.Path(); its group table is replaced.
inline void BuildServiceServer(state::Server& server, const TempDir& dir) {
  platform::CreateDirectory(server.setup.pop3Dir);
  server.roster.groups = state::GroupTable(2);
  state::TMyDBUser& team = server.roster.groups[0];
  team.Alias = "Team";
  team.FileName = dir.File("team.qdb");
  team.NoDatafile = false;
  team.MayInsertFirst = true;
  dir.Write("team.qdb", "");
  store::BuildBlankRecord(*team.BlankRecord, 9, 20, 0);
  team.Users = std::vector<state::TMyNameUser>(3);
  team.UserCount = 3;
  AddServiceUser(team, 0, 0, "alice", "127.0.0.2");
  AddServiceUser(team, 0, 1, "bob", "127.0.0.3");
  AddServiceUser(team, 0, 2, "carol", "127.0.0.4");
  state::TMyDBUser& other = server.roster.groups[1];
  other.Alias = "Other";
  store::BuildBlankRecord(*other.BlankRecord, 9, 20, 0);
  other.Users = std::vector<state::TMyNameUser>(1);
  other.UserCount = 1;
  AddServiceUser(other, 1, 0, "dave", "127.0.0.5");
  for (const char* host : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    dir.Write(std::string("POP3/") + host + ".bin", "");
  }
  server.setup.timeouts.retryingOpenLimitMs = 200;
}

}  // namespace qv::test
