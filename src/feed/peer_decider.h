#pragma once
// What a peer of the HTTP listener may do, decided once per connection when it is accepted:
// a member (the user whose host is its address, else its reverse name, by net::MemberByPeer)
// reads and edits its own group; a peer that 127.0.0.1 or [Feed] Allow lets in reads only;
// anyone else is refused. The reverse lookup, needed only while some user's host is a name,
// runs on a small pool of its own and is given up after a time limit, so it never holds an
// I/O thread.
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/thread_pool.hpp>
#include <chrono>
#include <functional>
#include <string>

#include "feed/peer_filter.h"
#include "net/reverse_lookup_cache.h"
#include "state/server.h"

namespace qv::feed {

struct PeerInfo {
  std::string address;  // dotted
  state::TMyNameUser* member = nullptr;
  bool mayRead = false;  // a member or a reader
};

class PeerDecider {
 public:
  using Resolver = net::ReverseLookupCache::Resolver;

  PeerDecider(state::Server& server, PeerFilter& filter, Resolver resolver,
              std::chrono::milliseconds lookupLimit = std::chrono::seconds(2));
  ~PeerDecider();

  // Decides about address; done runs once, on executor, with the answer.
  void Decide(const std::string& address, const boost::asio::any_io_executor& executor,
              std::function<void(PeerInfo)> done);
  // Without a reverse lookup (for an address a trusted proxy forwarded).
  PeerInfo DecideByAddress(const std::string& address) const;

 private:
  PeerInfo Finish(const std::string& address, const std::string& name) const;

  state::Server& server_;
  PeerFilter& filter_;
  const bool lookupNeeded_;
  std::chrono::milliseconds lookupLimit_;
  net::ReverseLookupCache cache_;
  boost::asio::thread_pool lookups_{2};
};

}  // namespace qv::feed
