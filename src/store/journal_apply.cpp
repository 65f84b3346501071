#include "store/journal_apply.h"

#include <memory>

#include "store/file_layer.h"
#include "store/journal.h"
#include "store/write_scope.h"

namespace qv::store {

int WriteDurableChanges(GroupDatafile& group) {
  if (!group.Journal) return 0;
  if (!group.Journal->HasDurablePending() && !group.Journal->DatafileRewriteDue()) return 0;
  WriteScope writing(group);
  std::unique_ptr<LayerFile> file =
      FilesOf(group).Open(group.FileName, platform::OpenMode::ReadWrite);
  const int written = group.Journal->WritePending(*file);
  file->Close();
  return written;
}

void FlushJournal(GroupDatafile& group) {
  if (!group.Journal) return;
  group.Journal->Sync();
  WriteDurableChanges(group);
  FilesOf(group).SyncFile(group.FileName);
  group.Journal->Reset();
}

}  // namespace qv::store
