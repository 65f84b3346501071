#pragma once
// The process-wide state of one server: settings, the two locks, the log, the group table, the
// user status table and the connection bookkeeping. Owned by the process entry and passed by
// reference, so that a test can build a whole server in-process. Each field says who may touch
// it: "start-up" (written before the event loop and other threads run, read-only afterwards),
// "event thread", a lock, or atomic.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/event_loop.h"
#include "platform/thread_pool.h"
#include "state/boundary_errors.h"
#include "state/catalogue.h"
#include "state/front_end.h"
#include "state/group_table.h"
#include "state/limits.h"
#include "state/log.h"
#include "state/mailbox_tally.h"
#include "state/metrics.h"
#include "state/request_handlers.h"
#include "state/send_buffers.h"
#include "state/thread_reaper.h"
#include "state/timeouts.h"

namespace qv::net {
class TFormSocksServer;
}

namespace qv {

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
  // The message bytes of each mailbox, for the cap on storing (locks itself).
  state::MailboxTally mailboxTally;
  // The threads send workers run on and the buffers of their copies (both lock themselves).
  // Declared before the group table so that they outlive the worker handles the users hold.
  platform::ThreadPool sendThreads;
  service::SendBuffers sendBuffers;

  Catalogue catalogue;  // start-up (the working catalogue; its language is selected once)
  Log log{catalogue, sessionLock};  // any thread; the session lock inside
  // Errors caught at timer and thread boundaries, each kind logged once (locks itself).
  BoundaryErrors boundaryErrors{log};

  std::string exeDir;         // start-up
  std::string pop3Dir;        // start-up
  std::string configFile;     // start-up; empty: Server.ini in exeDir
  config::Settings settings;  // start-up
  bool initOk = true;         // start-up
  int32_t totalUsers = 0;     // start-up

  GroupTable groups;  // start-up (sized once; each field says who touches it)
  // Workers asked to stop that may not have left yet; swept by the housekeeping tick (locks
  // itself). Declared after the group table, so that it waits for them before the users they
  // refer to go.
  service::ThreadReaper reaper;
  // int32 5000 followed by one 86-byte status slot per configured user. Event thread.
  std::vector<uint8_t> statusTable;
  std::atomic<int32_t> sessionCount{0};  // atomic
  Metrics metrics;                       // atomic fields
  // When the process entry started the server, for the uptime the status page shows. Start-up.
  int64_t startedUnixMs = 0;

  // Users admitted on their incoming connection whose outgoing connection the connect timer is
  // to open. Guarded by the send lock.
  std::vector<TMyNameUser*> pendingList;

  // Where complete frames go (data requests and address-and-mail packages). Start-up.
  service::RequestHandlers handlers;
  // Where the connection layer reports session starts and ends. Start-up.
  service::SessionHandlers sessionEvents;
  // The limits of sends, receives and waits; tests shorten them before start-up. Start-up.
  service::Timeouts timeouts;
  // The bounds on what clients can make the server hold; tests shrink them before start-up.
  service::Limits limits;
  // The socket window (listener, connect timer, stack checker). Event thread; set and cleared
  // under the session lock.
  net::TFormSocksServer* socketWindow = nullptr;

  platform::EventLoop& loop;  // Post and timer enabling from any thread, the rest event thread
  FrontEnd& front;            // event thread

  std::string ConfigPath() const;
  std::string DebugLogPath() const;
  std::string MailboxPath(const std::string& host) const;  // POP3/<host>.bin
};

}  // namespace qv
