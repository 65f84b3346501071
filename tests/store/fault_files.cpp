#include "fault_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qv::store::test {
namespace {

// Puts the first n bytes of data into content at pos, growing it when needed.
void Land(std::string& content, int64_t pos, const char* data, size_t n) {
  const size_t at = static_cast<size_t>(pos);
  if (content.size() < at + n) content.resize(at + n);
  std::memcpy(content.data() + at, data, n);
}

class FaultFile final : public LayerFile {
 public:
  FaultFile(FaultFiles& files, std::shared_ptr<FaultFiles::Node> node)
      : files_(files), node_(std::move(node)) {}
  ~FaultFile() override { node_->locked = false; }

  int64_t Size() override {
    Alive();
    return static_cast<int64_t>(node_->data.size());
  }
  void ReadAt(int64_t pos, void* buffer, size_t n) override {
    Alive();
    if (pos < 0 || static_cast<size_t>(pos) + n > node_->data.size()) {
      throw platform::FileError("short read", 0);
    }
    std::memcpy(buffer, node_->data.data() + pos, n);
  }
  void WriteAt(int64_t pos, const void* data, size_t n) override {
    Alive();
    const size_t lands = files_.Step(n);
    Land(node_->data, pos, static_cast<const char*>(data), lands);
    node_->unsynced.emplace_back(pos, std::string(static_cast<const char*>(data), lands));
    if (lands < n) throw DiskDied();
  }
  void Truncate(int64_t size) override {
    Alive();
    files_.Step();
    node_->data.resize(static_cast<size_t>(size));
  }
  void Sync() override {
    Alive();
    files_.Step();
    files_.SyncNode(*node_);
  }
  void Close() override { node_->locked = false; }

 private:
  void Alive() {
    if (files_.Dead()) throw DiskDied();
  }
  FaultFiles& files_;
  std::shared_ptr<FaultFiles::Node> node_;
};

}  // namespace

size_t FaultFiles::Step(size_t n) {
  if (dead_) throw DiskDied();
  ++steps_;
  if (steps_ != cutAt_) return n;
  dead_ = true;
  if (tearBytes_ >= 0 && n > 0) return std::min(n, static_cast<size_t>(tearBytes_));
  throw DiskDied();
}

void FaultFiles::Restart(bool powerCut, bool halfLands) {
  if (powerCut) {
    names_ = durableNames_;
    for (auto& [name, node] : names_) {
      node->data = node->durable;
      if (!halfLands) continue;
      for (const auto& [pos, bytes] : node->unsynced) {
        Land(node->data, pos, bytes.data(), bytes.size() / 2);
      }
    }
  }
  for (auto& [name, node] : names_) node->unsynced.clear();
  for (auto& [name, node] : names_) node->locked = false;
  durableNames_ = names_;
  for (auto& [name, node] : names_) node->durable = node->data;
  dead_ = false;
  cutAt_ = -1;
}

void FaultFiles::Put(const std::string& path, const std::string& bytes) {
  auto node = std::make_shared<Node>();
  node->data = node->durable = bytes;
  names_[path] = node;
  durableNames_[path] = node;
}

std::string FaultFiles::Get(const std::string& path) const {
  auto it = names_.find(path);
  return it == names_.end() ? std::string() : it->second->data;
}

std::unique_ptr<LayerFile> FaultFiles::Open(const std::string& path, platform::OpenMode mode) {
  if (dead_) throw DiskDied();
  auto it = names_.find(path);
  std::shared_ptr<Node> node;
  if (it == names_.end()) {
    if (mode == platform::OpenMode::Read || mode == platform::OpenMode::ReadWrite) {
      throw platform::FileError("cannot open " + path, 2);
    }
    Step();
    node = std::make_shared<Node>();
    names_[path] = node;
  } else {
    node = it->second;
    if (node->locked) throw platform::FileError("cannot open " + path + ": locked", 11);
    if (mode == platform::OpenMode::CreateTruncate) {
      Step();
      node->data.clear();
    }
  }
  node->locked = true;
  return std::make_unique<FaultFile>(*this, node);
}

bool FaultFiles::Exists(const std::string& path) {
  if (dead_) throw DiskDied();
  return names_.count(path) != 0;
}

bool FaultFiles::Remove(const std::string& path) {
  if (dead_) return false;  // called on the way out of failures; nothing happens any more
  if (names_.count(path) == 0) return false;
  Step();
  names_.erase(path);
  return true;
}

void FaultFiles::Rename(const std::string& from, const std::string& to) {
  if (dead_) throw DiskDied();
  auto it = names_.find(from);
  if (it == names_.end()) throw platform::FileError("cannot rename " + from, 2);
  Step();
  auto node = it->second;
  names_.erase(it);
  names_[to] = node;
}

void FaultFiles::SyncDirectoryOf(const std::string&) {
  Step();
  if (failDirectorySyncs_ > 0) {
    --failDirectorySyncs_;
    throw platform::FileError("directory sync failed", EIO);
  }
  durableNames_ = names_;
}

void FaultFiles::SyncFile(const std::string& path) {
  Step();
  auto it = names_.find(path);
  if (it == names_.end()) throw platform::FileError("cannot open " + path, 2);
  SyncNode(*it->second);
}

void FaultFiles::SyncNode(Node& node) {
  if (TakeSyncFailure()) {
    node.dropped = true;
    node.unsynced.clear();
    throw platform::FileError("sync failed", EIO);
  }
  if (node.dropped) {  // only the writes after the failure reach the disk, and the file's size
    node.durable.resize(node.data.size());
    for (const auto& [pos, bytes] : node.unsynced)
      Land(node.durable, pos, bytes.data(), bytes.size());
    node.dropped = false;
  } else {
    node.durable = node.data;
  }
  node.unsynced.clear();
}

}  // namespace qv::store::test
