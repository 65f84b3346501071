#pragma once
// Reverse lookups of peer addresses for admission, one per address at a time and remembered for
// a while. A burst of connections from one address (a client retrying, or a hostile flood) then
// costs one lookup instead of one each: a resolver sent hundreds of queries at once drops some,
// and every dropped query holds an identification for the resolver's whole time-out.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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

  // Replaces the resolver; only before the first lookup (start-up, tests).
  void SetResolver(Resolver resolver) { resolver_ = std::move(resolver); }

  // Any thread. The name of address; a lookup of the same address already under way is waited
  // for instead of started again.
  std::string Lookup(const std::string& address);

  // Any thread. The name of address, waiting at most `limit` for it ("" when it has none or the
  // resolver did not answer in time; its query goes on, on a thread of its own, and its answer is
  // kept). Nothing (std::nullopt) while a query for address is under way, or while maxQueries
  // queries are: the caller turns the connection away rather than wait behind them.
  std::optional<std::string> LookupWithin(const std::string& address,
                                          std::chrono::milliseconds limit, size_t maxQueries = 64);

 private:
  struct Entry {
    std::string name;
    std::chrono::steady_clock::time_point expires;
    bool pending = true;
  };
  void MakeRoom(std::chrono::steady_clock::time_point now);

  // What a query thread of LookupWithin shares with the cache; it outlives the cache should a
  // resolver never answer.
  struct Queries {
    std::mutex mutex;
    std::condition_variable resolved;
    std::unordered_map<std::string, Entry> entries;
    size_t running = 0;
  };

  Resolver resolver_;
  std::chrono::milliseconds ttl_;
  size_t maxEntries_;
  std::mutex mutex_;
  std::condition_variable resolved_;
  std::unordered_map<std::string, Entry> entries_;
  std::shared_ptr<Queries> queries_ = std::make_shared<Queries>();
};

}  // namespace qv::net
