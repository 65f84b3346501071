#pragma once
// The process-wide state of one server, in four parts: the start-up settings, the run-time
// machinery (locks, log, counters, handlers), the roster of groups and users, and the mail
// threads. Owned by the process entry and passed by
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
#include "platform/serial_jobs.h"
#include "platform/thread_pool.h"
#include "state/boundary_errors.h"
#include "state/catalogue.h"
#include "state/connections.h"
#include "state/front_end.h"
#include "state/group_table.h"
#include "state/limits.h"
#include "state/log.h"
#include "state/mailbox_tally.h"
#include "state/metrics.h"
#include "state/request_handlers.h"
#include "state/send_buffers.h"
#include "state/timeouts.h"

namespace qv::state {

// Written before the event loop and any other thread run, read-only afterwards.
struct ServerSetup {
  std::string exeDir;         // start-up
  std::string pop3Dir;        // start-up
  std::string configFile;     // start-up; empty: Server.ini in exeDir
  config::Settings settings;  // start-up
  bool initOk = true;         // start-up
  int32_t totalUsers = 0;     // start-up
  // When the process entry started the server, for the uptime the status page shows.
  int64_t startedUnixMs = 0;
  Catalogue catalogue;  // the working catalogue; its language is selected once
  // The limits of sends, receives and waits; tests shorten them before start-up.
  Timeouts timeouts;
  // The bounds on what clients can make the server hold; tests shrink them before start-up.
  Limits limits;
};

// The run-time machinery: locks, the log, counters, the handlers the layers are joined by, the
// event loop and the program's front end.
struct ServerRuntime {
  ServerRuntime(Catalogue& catalogue, platform::EventLoop& eventLoop, FrontEnd& frontEnd)
      : log(catalogue, sessionLock), loop(eventLoop), front(frontEnd) {}

  // Where both are taken the send lock comes first.
  std::recursive_mutex sendLock;
  std::recursive_mutex sessionLock;
  // Held by a mail thread while it has a mailbox file open, so that two deliveries never
  // interleave their reads and rewrites of one mailbox. Never taken by the event thread, and
  // never together with the send lock: file I/O does not hold up the send path.
  std::recursive_mutex mailboxLock;
  // The message bytes of each mailbox, for the cap on storing (locks itself).
  state::MailboxTally mailboxTally;
  // The buffers of the copies that outboxes keep of waiting pieces (locks itself). Outlives the
  // roster, whose outboxes give their buffers back here.
  SendBuffers sendBuffers;
  Log log;  // any thread; the session lock inside
  // Errors caught at timer and thread boundaries, each kind logged once (locks itself).
  BoundaryErrors boundaryErrors{log};
  Metrics metrics;  // atomic fields
  // Where complete frames go (data requests and address-and-mail packages). Start-up.
  RequestHandlers handlers;
  // Where the connection layer reports session starts and ends. Start-up.
  SessionHandlers sessionEvents;
  // The connection layer (the socket window): closing incoming connections. Event thread; set
  // and cleared under the session lock.
  state::Connections* connections = nullptr;
  platform::EventLoop& loop;  // Post and timer enabling from any thread, the rest event thread
  FrontEnd& front;            // event thread
};

// The configured groups and users and who of them is on line.
struct ServerRoster {
  GroupTable groups;  // start-up (sized once; each field says who touches it)
  // int32 5000 followed by one 86-byte status slot per configured user. Event thread.
  std::vector<uint8_t> statusTable;
  std::atomic<int32_t> sessionCount{0};  // atomic
  // Users admitted on their incoming connection whose outgoing connection the connect timer is
  // to open. Guarded by the send lock.
  std::vector<TMyNameUser*> pendingList;
};

// The threads that read stored mail for deliveries and tidy mailboxes after them, and the
// order of their mailbox jobs (both lock themselves). Destroyed first: they wait for their
// running jobs while everything those use is still there.
struct ServerThreads {
  platform::ThreadPool mailThreads;
  // The jobs that read and rewrite mailboxes for deliveries, one at a time in the order given,
  // so that a delivery never reads notices that an earlier one has yet to remove.
  platform::SerialJobs mailboxJobs{mailThreads};
};

struct Server {
  Server(std::string exeDirectory, platform::EventLoop& eventLoop, FrontEnd& frontEnd);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  ServerSetup setup;
  ServerRuntime runtime;
  ServerRoster roster;
  ServerThreads threads;

  std::string ConfigPath() const;
  std::string DebugLogPath() const;
  std::string MailboxPath(const std::string& host) const;  // POP3/<host>.bin
};

}  // namespace qv::state
