#include "store/file_layer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/dir_sync.h"

namespace qv::store {
namespace {

class RealFile final : public LayerFile {
 public:
  RealFile(platform::File file, bool syncs) : file_(std::move(file)), syncs_(syncs) {}
  int64_t Size() override { return file_.Size(); }
  void ReadAt(int64_t pos, void* buffer, size_t n) override { file_.ReadAt(pos, buffer, n); }
  void WriteAt(int64_t pos, const void* data, size_t n) override { file_.WriteAt(pos, data, n); }
  void Truncate(int64_t size) override { file_.Truncate(size); }
  void Sync() override {
    if (syncs_) file_.Flush();
  }
  void Close() override { file_.Close(); }

 private:
  platform::File file_;
  bool syncs_;
};

class RealLayer final : public FileLayer {
 public:
  explicit RealLayer(bool syncs) : syncs_(syncs) {}
  std::unique_ptr<LayerFile> Open(const std::string& path, platform::OpenMode mode) override {
    return std::make_unique<RealFile>(platform::File::Open(path, mode), syncs_);
  }
  bool Exists(const std::string& path) override { return platform::FileExists(path); }
  bool Remove(const std::string& path) override { return platform::DeleteFile(path); }
  void Rename(const std::string& from, const std::string& to) override {
    if (!platform::RenameFile(from, to)) {
      const int error = errno;
      throw platform::FileError("cannot rename " + from + " to " + to + ": " + std::strerror(error),
                                error);
    }
  }
  void SyncDirectoryOf(const std::string& path) override {
    if (syncs_) platform::SyncDirectoryOf(path);
  }
  void SyncFile(const std::string& path) override {
    if (!syncs_) return;
    platform::File file = platform::File::Open(path, platform::OpenMode::Read, false);
    file.Flush();
    file.Close();
  }
  bool Syncs() const override { return syncs_; }

 private:
  const bool syncs_;
};

constexpr int64_t kCopyPiece = 16 * 55766;

}  // namespace

FileLayer& RealFiles(bool syncs) {
  static RealLayer withSyncs(true);
  static RealLayer withoutSyncs(false);
  return syncs ? static_cast<FileLayer&>(withSyncs) : withoutSyncs;
}

void CopyBytes(LayerFile& from, int64_t fromPos, int64_t bytes, LayerFile& to, int64_t at) {
  std::vector<uint8_t> piece(static_cast<size_t>(std::min(bytes, kCopyPiece)));
  while (bytes > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(bytes, kCopyPiece));
    from.ReadAt(fromPos, piece.data(), n);
    to.WriteAt(at, piece.data(), n);
    fromPos += static_cast<int64_t>(n);
    at += static_cast<int64_t>(n);
    bytes -= static_cast<int64_t>(n);
  }
}

}  // namespace qv::store
