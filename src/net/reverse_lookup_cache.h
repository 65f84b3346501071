#pragma once
// Reverse lookups of peer addresses for admission, one per address at a time and remembered for
// a while. A burst of connections from one address (a client retrying, or a hostile flood) then
// costs one lookup instead of one each: a resolver sent hundreds of queries at once drops some,
// and every dropped query holds an identification for the resolver's whole time-out.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qv::net {

class ReverseLookupCache {
 public:
  using Resolver = std::function<std::string(const std::string& address)>;

  // resolver: address to host name, empty when it has none. Results (names and their absence)
  // are kept for ttl.
  explicit ReverseLookupCache(Resolver resolver,
                              std::chrono::milliseconds ttl = std::chrono::seconds(30),
                              size_t maxEntries = 4096);

  // Any thread. The name of address; a lookup of the same address already under way is waited
  // for instead of started again.
  std::string Lookup(const std::string& address);

 private:
  struct Entry {
    std::string name;
    std::chrono::steady_clock::time_point expires;
    bool pending = true;
  };
  void MakeRoom(std::chrono::steady_clock::time_point now);

  Resolver resolver_;
  std::chrono::milliseconds ttl_;
  size_t maxEntries_;
  std::mutex mutex_;
  std::condition_variable resolved_;
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace qv::net
