#pragma once
// Reverse lookups of peer addresses for admission: one query per address at a time, a limit on
// how long a connection waits for it, and answers remembered for a while. A burst of connections
// from one address (a client retrying, or a hostile flood) then costs one query instead of one
// each, and a resolver that never answers holds no identification longer than the limit.
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

  // resolver: address to host name, empty when it has none. Answers (names and their absence)
  // are kept for ttl; at most maxEntries of them.
  explicit ReverseLookupCache(Resolver resolver,
                              std::chrono::milliseconds ttl = std::chrono::seconds(30),
                              size_t maxEntries = 4096);

  // Replaces the resolver; only before the first lookup (start-up, tests).
  void SetResolver(Resolver resolver) { resolver_ = std::move(resolver); }

  // Any thread. The name of address, waiting at most `limit` for it ("" when it has none, the
  // query failed, or the resolver did not answer in time: its query goes on, on a thread of its
  // own, and its answer is kept). Nothing (std::nullopt) while a query for address is under way,
  // or while maxQueries queries are: the caller turns the connection away rather than wait.
  std::optional<std::string> Lookup(const std::string& address, std::chrono::milliseconds limit,
                                    size_t maxQueries = 64);

 private:
  struct Entry {
    std::string name;
    std::chrono::steady_clock::time_point expires;
    bool pending = true;
  };
  // Shared with the query threads, which may outlive the cache when a resolver never answers.
  struct Queries {
    std::mutex mutex;
    std::condition_variable resolved;
    std::unordered_map<std::string, Entry> entries;
    size_t running = 0;
  };
  void Query(const std::string& address);

  Resolver resolver_;
  std::chrono::milliseconds ttl_;
  size_t maxEntries_;
  std::shared_ptr<Queries> queries_ = std::make_shared<Queries>();
};

}  // namespace qv::net
