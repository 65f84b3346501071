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
#include "platform/event_loop.h"
#include "platform/thread_pool.h"
#include "state/boundary_errors.h"
#include "state/catalogue.h"
#include "state/front_end.h"
#include "state/group_table.h"
#include "state/log.h"
#include "state/request_handlers.h"
#include "state/send_buffers.h"
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
  // The threads send workers run on and the buffers of their copies. Declared before the group
  // table so that they outlive the worker handles the users hold.
  platform::ThreadPool sendThreads;
  service::SendBuffers sendBuffers;

  Catalogue catalogue;  // the working catalogue
  Log log{catalogue, sessionLock};
  // Errors caught at timer and thread boundaries, each kind logged once.
  BoundaryErrors boundaryErrors{log};

  std::string exeDir;
  std::string pop3Dir;
  config::Settings settings;
  bool initOk = true;
  int32_t totalUsers = 0;

  GroupTable groups;
  // int32 5000 followed by one 86-byte status slot per configured user.
  std::vector<uint8_t> statusTable;
  std::atomic<int32_t> sessionCount{0};

  // Users admitted on their incoming connection whose outgoing connection the connect timer is
  // to open. Guarded by the send lock.
  std::vector<TMyNameUser*> pendingList;

  // Where complete frames go (data requests and address-and-mail packages).
  service::RequestHandlers handlers;
  // Where the connection layer reports session starts and ends.
  service::SessionHandlers sessionEvents;
  // The limits of sends, receives and waits; tests shorten them.
  service::Timeouts timeouts;
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
