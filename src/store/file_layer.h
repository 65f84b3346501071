#pragma once
// The files the store writes through. The real layer is the platform's files; a test layer can
// stop the disk at any write, forget what was not synced, or tear a write, so that every way a
// process or a machine can die in the middle of a datafile change is tried.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"
#include "store/group_datafile.h"

namespace qv::store {

// One open file; absolute positions; every failure throws (platform::FileError for the real
// layer). Opened unshared like the platform's files.
class LayerFile {
 public:
  virtual ~LayerFile() = default;
  virtual int64_t Size() = 0;
  virtual void ReadAt(int64_t pos, void* buffer, size_t n) = 0;
  virtual void WriteAt(int64_t pos, const void* data, size_t n) = 0;
  virtual void Truncate(int64_t size) = 0;
  // Makes what was written durable (fdatasync). A layer without syncs does nothing.
  virtual void Sync() = 0;
  virtual void Close() = 0;
};

class FileLayer {
 public:
  virtual ~FileLayer() = default;
  virtual std::unique_ptr<LayerFile> Open(const std::string& path, platform::OpenMode mode) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // True when the file was there and is gone.
  virtual bool Remove(const std::string& path) = 0;
  // Replaces `to` by `from` in one step; throws on failure.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Makes names created, renamed or removed in the directory of path durable.
  virtual void SyncDirectoryOf(const std::string& path) = 0;
  // Makes what was written to the file at path durable without opening it unshared (a checkpoint
  // while the event thread may hold the file).
  virtual void SyncFile(const std::string& path) = 0;
  // False when this layer's syncs do nothing ([Options] SyncWrites=0).
  virtual bool Syncs() const = 0;
};

// The platform's files; with syncs off, Sync and SyncDirectoryOf do nothing. Both objects are
// stateless and live for the whole process.
FileLayer& RealFiles(bool syncs = true);

// The layer a group's datafile operations use.
inline FileLayer& FilesOf(const GroupDatafile& group) {
  return group.Files ? *group.Files : RealFiles(true);
}

// Copies `bytes` bytes from position fromPos of `from` to position `at` of `to`, in pieces of a
// few records.
void CopyBytes(LayerFile& from, int64_t fromPos, int64_t bytes, LayerFile& to, int64_t at);

}  // namespace qv::store
