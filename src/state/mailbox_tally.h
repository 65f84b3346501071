#pragma once
// What each mailbox holds, kept in memory so that storing a message needs neither a read of the
// whole mailbox nor a look at every message file: per mailbox file, the size of the message of
// each notice, in notice order, and their sum. A mailbox is counted from its files the first
// time it is used after start-up (or after a change that left its count unsure), then kept up
// to date by every append and removal of notices. Locks itself; callers hold the mailbox file
// open (unshared) around a change, so the changes come in the file's order.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace qv::state {

class MailboxTally {
 public:
  // Counts the message sizes of a mailbox from its files, in notice order.
  using Count = std::function<std::vector<int64_t>()>;

  // Bytes of the messages the mailbox's notices name; count runs when the mailbox is unknown.
  int64_t Bytes(const std::string& mailbox, const Count& count);
  // A notice for a message of `bytes` bytes was appended. Ignored for an unknown mailbox.
  void Appended(const std::string& mailbox, int64_t bytes);
  // The first n notices were removed.
  void RemovedFront(const std::string& mailbox, int64_t n);
  // The mailbox changed in a way not counted: it is counted again at its next use.
  void Forget(const std::string& mailbox);
  // Notices counted for the mailbox; -1 when unknown.
  int64_t Notices(const std::string& mailbox) const;

 private:
  struct Box {
    std::deque<int64_t> sizes;
    int64_t bytes = 0;
  };
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Box> boxes_;
};

}  // namespace qv::state
