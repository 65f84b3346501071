#pragma once
// The optional HTTP listener ([Feed] in Server.ini): GET /groups/<alias>.ics (a group's days as
// iCalendar), GET / (status page) and GET /metrics (Prometheus text). It runs on threads of its
// own, reads datafiles through store::ReadDayRange (no lock: chunks checked against the group's
// WriteGeneration) and the server's atomics, and never touches the event thread's buffers or
// posts to it; the one lock it shares with the event thread is the log's list of recent lines.
#include <memory>
#include <string>

#include "state/server.h"

namespace qv::feed {

class FeedServer {
 public:
  explicit FeedServer(Server& server);
  ~FeedServer();
  FeedServer(const FeedServer&) = delete;
  FeedServer& operator=(const FeedServer&) = delete;

  // Reads [Feed] from Server.ini after start-up; with a Port it starts listening and logs where.
  // Problems are logged; the TCP service runs on regardless. Never throws.
  void Start();
  // Stops listening and joins the threads (also done by the destructor).
  void Stop();
  bool Listening() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::feed
