#pragma once
// The process-wide state of one server: settings, the two locks, the log, the group table, the
// user status table and the connection bookkeeping. Owned by the process entry and passed by
// reference, so that a test can build a whole server in-process.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/catalogue.h"
#include "core/front_end.h"
#include "core/group_table.h"
#include "core/log.h"
#include "platform/event_loop.h"
#include "platform/thread_pool.h"
#include "service/limits.h"
#include "service/request_handlers.h"
#include "service/send_buffers.h"
#include "service/thread_reaper.h"
#include "service/timeouts.h"

namespace qv::net {
class TFormSocksServer;
}

namespace qv {

constexpr int32_t kStatusTableCode = 5000;

struct Server {
  Server(std::string exeDirectory, platform::EventLoop& eventLoop, FrontEnd& frontEnd);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Created first, released last. Where both are taken the send lock comes first.
  std::recursive_mutex sendLock;
  std::recursive_mutex sessionLock;
  // Held by a send worker while it has a mailbox file open, so that two deliveries never
  // interleave their reads and rewrites of one mailbox. Never taken by the event thread, and
  // never together with the send lock: file I/O does not hold up the send path.
  std::recursive_mutex mailboxLock;
  // The threads send workers run on and the buffers of their copies. Declared before the group
  // table so that they outlive the worker handles the users hold.
  platform::ThreadPool sendThreads;
  service::SendBuffers sendBuffers;

  Catalogue catalogue;  // the working catalogue
  Log log{catalogue, sessionLock};

  std::string exeDir;
  std::string pop3Dir;
  config::Settings settings;
  bool initOk = true;
  int32_t totalUsers = 0;

  GroupTable groups;
  // Workers asked to stop that may not have left yet; swept by the housekeeping tick. Declared
  // after the group table, so that it waits for them before the users they refer to go.
  service::ThreadReaper reaper;
  // int32 5000 followed by one 86-byte status slot per configured user.
  std::vector<uint8_t> statusTable;
  std::atomic<int32_t> sessionCount{0};

  // Users admitted on their incoming connection whose outgoing connection the connect timer is
  // to open. Guarded by the send lock.
  std::vector<TMyNameUser*> pendingList;

  // Where complete frames go (data requests and address-and-mail packages).
  service::RequestHandlers handlers;
  // The limits of sends, receives and waits; tests shorten them.
  service::Timeouts timeouts;
  // The bounds on what clients can make the server hold; tests shrink them.
  service::Limits limits;
  // The socket window (listener, connect timer, stack checker); cleared under the session lock
  // when it closes.
  net::TFormSocksServer* socketWindow = nullptr;

  platform::EventLoop& loop;
  FrontEnd& front;

  std::string ConfigPath() const;
  std::string DebugLogPath() const;
  std::string MailboxPath(const std::string& host) const;  // POP3/<host>.bin
};

}  // namespace qv
