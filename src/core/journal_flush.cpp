#include "core/journal_flush.h"

#include <filesystem>
#include <system_error>

#include "store/journal_apply.h"

namespace qv::core {
namespace {

void Flush(state::Server& server, state::TMyDBUser& group) {
  try {
    store::FlushJournal(group);
  } catch (const std::exception&) {
    // The changes stay in the journal, which the next start writes onto the datafile.
    server.runtime.log.WriteMsg(wire::MsgId::FileWriteError, group.FileName);
  }
}

}  // namespace

void FlushJournalsOf(state::Server& server, const std::string& datafilePath) {
  for (state::TMyDBUser& group : server.roster.groups) {
    if (!group.Journal) continue;
    std::error_code error;
    if (group.FileName == datafilePath ||
        std::filesystem::equivalent(group.FileName, datafilePath, error)) {
      Flush(server, group);
    }
  }
}

void FlushAllJournals(state::Server& server) {
  for (state::TMyDBUser& group : server.roster.groups) {
    if (group.Journal) Flush(server, group);
  }
}

}  // namespace qv::core
