#pragma once
// Delivery of a user's stored mail through its outbox: the number of waiting messages (6001),
// then each message file framed by its size. The mailbox's notices are read by a mail thread
// under the mailbox lock and the files are read by mail threads in chunks, a few ahead of the
// socket, so that the event thread never reads a file and a large mailbox is never held in
// memory whole. Once the delivery ends (all sent, failed, or given up with the session), a mail
// thread removes the notices of the messages that went and deletes their files.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "state/server.h"

namespace qv::service {

// Message files are read in chunks of this size, at most kMailChunksAhead ahead of the socket.
inline constexpr size_t kMailChunkSize = 65536;
inline constexpr size_t kMailChunksAhead = 4;

struct MailFile {
  std::string path;
  int64_t size = 0;
  // Notices handled once this file has gone: its own and the skipped ones just before it.
  int32_t notices = 1;
};

struct MailPlan {
  bool opened = false;  // false: the mailbox could not be read (logged); nothing is sent
  std::vector<MailFile> files;
  int32_t trailingNotices = 0;  // skipped notices after the last file
};

// Reads the host's notices (retrying open under the mailbox lock). Notices whose message file is
// not a plain file of POP3, or is missing, are logged and skipped. Blocks: mail threads only.
MailPlan PlanDelivery(state::Server& server, const std::string& host,
                      const std::function<bool()>& stopped = {});

// Removes the first handledNotices notices of the host's mailbox and deletes the delivered
// files. Blocks: mail threads only.
void FinishDelivery(state::Server& server, const std::string& host, int32_t handledNotices,
                    const std::vector<std::string>& deliveredFiles);

class MailDelivery : public std::enable_shared_from_this<MailDelivery> {
 public:
  enum class Status { Working, Done, Failed };

  // onReady is called on the event thread whenever bytes become ready or the delivery ends.
  MailDelivery(state::Server& server, std::string host, std::function<void()> onReady);
  ~MailDelivery();
  MailDelivery(const MailDelivery&) = delete;
  MailDelivery& operator=(const MailDelivery&) = delete;

  // Starts reading the notices. False when no mail thread can be had (logged).
  bool Start();
  bool Started() const { return started_; }

  // The bytes that may be written now; empty when none are ready.
  std::span<const uint8_t> Ready() const;
  // n bytes of Ready() were written.
  void Consumed(size_t n);
  Status Current() const { return status_; }

  // Ends the delivery (idempotent): the notices of the messages whose bytes all went are
  // removed and their files deleted, by a mail thread.
  void End();

 private:
  struct Segment {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    int32_t completesFile = -1;  // index of the file whose last byte this is
  };

  void Planned(MailPlan plan);
  void ChunkRead(size_t file, int64_t offset, std::vector<uint8_t> bytes, bool ok);
  // Queues the next file's size word and asks for its chunks while few are ready.
  void ReadAhead();
  void Fail();
  void Notify();
  // Posts fn to the event thread, dropped once this delivery has gone.
  std::function<void()> OnLoop(std::function<void(MailDelivery&)> fn);
  bool RunOnMailThread(std::function<void()> job);

  state::Server& server_;
  const std::string host_;
  std::function<void()> onReady_;
  std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
  bool started_ = false;
  bool ended_ = false;
  Status status_ = Status::Working;
  MailPlan plan_;
  bool planned_ = false;
  size_t nextFile_ = 0;     // the file whose size word goes next
  size_t readingFile_ = 0;  // the file being read
  int64_t readOffset_ = 0;  // of readingFile_
  bool readInFlight_ = false;
  std::deque<Segment> ready_;
  int32_t handledNotices_ = 0;
  std::vector<std::string> deliveredFiles_;
};

}  // namespace qv::service
