#pragma once
// A file layer in memory that can die at any step: every write, truncation, creation, rename,
// removal and sync is a step; at the chosen step the operation does not happen (a write may be
// torn: only its first bytes land) and every later operation throws. Restart then shows the
// files as a restarted process (everything written) or a restarted machine (only what was
// synced: file contents by Sync/SyncFile, names by SyncDirectoryOf) would find them. A machine
// may also have written part of what was not synced: then the first half of every write since
// the file's last sync lands.
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "store/file_layer.h"

namespace qv::store::test {

struct DiskDied : std::runtime_error {
  DiskDied() : std::runtime_error("the disk stopped") {}
};

class FaultFiles : public FileLayer {
 public:
  struct Node {
    std::string data;
    std::string durable;
    std::vector<std::pair<int64_t, std::string>> unsynced;  // writes since the last sync
    bool dropped = false;  // a failed sync lost the writes before it: durable holds none of them
    bool locked = false;
  };

  // Dies at step `step` (1 = the first step from now on); a write cut with tearBytes >= 0 stores
  // that many of its first bytes.
  void CutAt(int64_t step, int64_t tearBytes = -1) {
    cutAt_ = steps_ + step;
    tearBytes_ = tearBytes;
  }
  int64_t Steps() const { return steps_; }
  // The next n syncs (of open files or by path) fail the way Linux's may: what was not yet
  // written is dropped while reads still show it, and a later sync that works does not bring it
  // back.
  void FailSyncs(int n) { failSyncs_ = n; }
  bool TakeSyncFailure() { return failSyncs_ > 0 && failSyncs_-- > 0; }
  // The next n directory syncs fail (the names stay as durable as they were).
  void FailDirectorySyncs(int n) { failDirectorySyncs_ = n; }
  bool Dead() const { return dead_; }
  // Starts again on what a new process (powerCut false) or a new boot (true) finds; with
  // halfLands the boot finds the first half of each write not synced on the synced content.
  void Restart(bool powerCut, bool halfLands = false);

  // Test access, outside the steps: a file written and synced, its content, its presence.
  void Put(const std::string& path, const std::string& bytes);
  std::string Get(const std::string& path) const;
  bool Has(const std::string& path) const { return names_.count(path) != 0; }
  std::map<std::string, std::shared_ptr<Node>> Files() const { return names_; }

  std::unique_ptr<LayerFile> Open(const std::string& path, platform::OpenMode mode) override;
  bool Exists(const std::string& path) override;
  bool Remove(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  void SyncDirectoryOf(const std::string& path) override;
  void SyncFile(const std::string& path) override;
  // A layer whose syncs do nothing for the store's choices ([Options] SyncWrites=0); they still
  // work when called.
  void SetSyncs(bool syncs) { syncs_ = syncs; }
  bool Syncs() const override { return syncs_; }

  // One step: throws once dead or when this is the step to die at (a tear lands first).
  // Returns the bytes a write may store (n, or the tear).
  size_t Step(size_t n = 0);
  // A sync of node's content (which may be the next failure).
  void SyncNode(Node& node);

 private:
  std::map<std::string, std::shared_ptr<Node>> names_;
  std::map<std::string, std::shared_ptr<Node>> durableNames_;
  int64_t steps_ = 0;
  int64_t cutAt_ = -1;
  int64_t tearBytes_ = -1;
  bool dead_ = false;
  int failSyncs_ = 0;
  bool syncs_ = true;
  int failDirectorySyncs_ = 0;
};

}  // namespace qv::store::test
