#pragma once
// The optional HTTP and WebSocket listener ([Feed] in Server.ini): GET /groups/<alias>.ics (a
// group's days as iCalendar), GET /status (status page), GET /metrics (Prometheus text), and
// for a member GET / (the group's week as a live web page, its WebSocket at /ws; other peers
// get the status page there). It runs on threads of its own; calendars read datafiles through
// store::ReadDayRange (no lock: chunks checked against the group's WriteGeneration); the web
// page reads and edits through the member API, whose calls it posts to the event thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "service/member_api.h"
#include "state/server.h"

namespace qv::feed {

// Values tests shorten.
struct FeedTuning {
  std::chrono::milliseconds idle = std::chrono::seconds(5);         // a silent connection is closed
  std::chrono::milliseconds lookupLimit = std::chrono::seconds(2);  // reverse lookup of a peer
  bool lowPriority = true;  // the I/O threads at the lowest CPU priority
};

class FeedServer {
 public:
  // api: the member API the web page acts through; null: the page reads the datafile and
  // editing is off.
  explicit FeedServer(state::Server& server, service::MemberApi* api = nullptr,
                      FeedTuning tuning = {});
  ~FeedServer();
  FeedServer(const FeedServer&) = delete;
  FeedServer& operator=(const FeedServer&) = delete;

  // Reads [Feed] from Server.ini after start-up; with a Port it starts listening and logs where.
  // Problems are logged; the TCP service runs on regardless. Never throws.
  void Start();
  // The same with the member API the server's start-up made (a program whose feed object was
  // made before start-up).
  void Start(service::MemberApi* api);
  // Stops listening, closes every connection and joins the threads (also done by the
  // destructor).
  void Stop();
  bool Listening() const;
  int OpenPages() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::feed
