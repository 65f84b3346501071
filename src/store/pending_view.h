#pragma once
// The datafile as the journal's pending entries make it: a change is written in place only once
// its journal entry is durable, and until then every read of the datafile sees it through this
// view. Writes go through to the file.
#include <memory>

#include "store/file_layer.h"
#include "store/journal.h"

namespace qv::store {

class PendingView final : public LayerFile {
 public:
  // The journal's pending entries must not change while the view is in use.
  PendingView(std::unique_ptr<LayerFile> file, const DayJournal& journal);

  int64_t Size() override { return size_; }
  void ReadAt(int64_t pos, void* buffer, size_t n) override;
  void WriteAt(int64_t pos, const void* data, size_t n) override;
  void Truncate(int64_t size) override;
  void Sync() override { file_->Sync(); }
  void Close() override { file_->Close(); }

 private:
  std::unique_ptr<LayerFile> file_;
  const DayJournal& journal_;
  int64_t fileSize_ = 0;
  int64_t size_ = 0;
};

// The group's datafile opened for the record store: through a PendingView while the journal
// holds pending entries, else the file itself. Throws like FileLayer::Open.
std::unique_ptr<LayerFile> OpenDatafile(const GroupDatafile& group, platform::OpenMode mode);

}  // namespace qv::store
