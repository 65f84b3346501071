#include "store/durable_start.h"

#include <exception>

#include "store/datafile.h"
#include "store/file_layer.h"
#include "store/journal.h"

namespace qv::store {

void PrepareDurableGroupDatafile(GroupDatafile& group, wire::LogSink& log, bool syncWrites) {
  group.Journal.reset();
  if (!group.Files) group.Files = &RealFiles(syncWrites);
  PrepareGroupDatafile(group, log);
  if (!syncWrites || group.FileName.empty()) return;
  try {
    group.Journal = std::make_shared<DayJournal>(FilesOf(group), JournalName(group.FileName));
  } catch (const std::exception& e) {
    log.Write(group.Alias + " -> journal: " + e.what());
  }
}

}  // namespace qv::store
