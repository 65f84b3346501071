#include "store/pending_view.h"

#include <algorithm>
#include <cstring>

namespace qv::store {

PendingView::PendingView(std::unique_ptr<LayerFile> file, const DayJournal& journal)
    : file_(std::move(file)), journal_(journal) {
  fileSize_ = file_->Size();
  size_ = std::max(fileSize_, journal_.PendingEnd());
}

void PendingView::ReadAt(int64_t pos, void* buffer, size_t n) {
  if (pos < 0 || pos + static_cast<int64_t>(n) > size_) {
    throw platform::FileError("read past the end of the datafile", 0);
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  const size_t fromFile =
      pos >= fileSize_ ? 0 : static_cast<size_t>(std::min<int64_t>(fileSize_ - pos, n));
  if (fromFile > 0) file_->ReadAt(pos, bytes, fromFile);
  // Behind the file's end only pending entries lie: new days appended one after the other, or
  // the last record an insertion moved.
  std::memset(bytes + fromFile, 0, n - fromFile);
  journal_.Overlay(pos, bytes, n);
}

void PendingView::WriteAt(int64_t pos, const void* data, size_t n) {
  file_->WriteAt(pos, data, n);
  fileSize_ = std::max(fileSize_, pos + static_cast<int64_t>(n));
  size_ = std::max(size_, fileSize_);
}

void PendingView::Truncate(int64_t size) {
  file_->Truncate(size);
  fileSize_ = size;
  size_ = std::max(size, journal_.PendingEnd());
}

std::unique_ptr<LayerFile> OpenDatafile(const GroupDatafile& group, platform::OpenMode mode) {
  std::unique_ptr<LayerFile> file = FilesOf(group).Open(group.FileName, mode);
  if (!group.Journal || group.Journal->Pending().empty()) return file;
  return std::make_unique<PendingView>(std::move(file), *group.Journal);
}

}  // namespace qv::store
