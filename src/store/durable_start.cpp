#include "store/durable_start.h"

#include <exception>

#include "store/datafile.h"
#include "store/file_layer.h"
#include "store/journal.h"

namespace qv::store {

void CreateMissingDatafile(GroupDatafile& group, wire::LogSink& log, bool syncWrites) {
  FileLayer& files = group.Files ? *group.Files : RealFiles(syncWrites);
  if (group.FileName.empty() || files.Exists(group.FileName)) return;
  try {
    std::unique_ptr<LayerFile> file = files.Open(group.FileName, platform::OpenMode::CreateNew);
    file->Sync();
    file->Close();
    files.SyncDirectoryOf(group.FileName);
    log.Write(group.Alias + " -> datafile created: " + group.FileName);
  } catch (const std::exception& e) {
    group.EditsRefusedWhy = "the datafile " + group.FileName + " cannot be created: " + e.what();
    log.Write(group.Alias + " -> " + group.EditsRefusedWhy + "; changes of this group are refused");
  }
}

void PrepareDurableGroupDatafile(GroupDatafile& group, wire::LogSink& log, bool syncWrites) {
  group.Journal.reset();
  if (!group.Files) group.Files = &RealFiles(syncWrites);
  PrepareGroupDatafile(group, log);
  if (!syncWrites || group.FileName.empty()) return;
  try {
    group.Journal = std::make_shared<DayJournal>(FilesOf(group), JournalName(group.FileName));
  } catch (const std::exception& e) {
    // Without its journal a change could not be made durable: none is taken.
    if (group.EditsRefusedWhy.empty()) {
      group.EditsRefusedWhy = std::string("the journal cannot be opened: ") + e.what();
      log.Write(group.Alias + " -> " + group.EditsRefusedWhy +
                "; changes of this group are refused");
    }
  }
}

}  // namespace qv::store
