#include "net/reverse_lookup_cache.h"

#include <thread>
#include <utility>

namespace qv::net {

ReverseLookupCache::ReverseLookupCache(Resolver resolver, std::chrono::milliseconds ttl,
                                       size_t maxEntries)
    : resolver_(std::move(resolver)), ttl_(ttl), maxEntries_(maxEntries) {}

std::optional<std::string> ReverseLookupCache::Lookup(const std::string& address,
                                                      std::chrono::milliseconds limit,
                                                      size_t maxQueries) {
  Queries& q = *queries_;
  std::unique_lock lock(q.mutex);
  auto it = q.entries.find(address);
  if (it != q.entries.end()) {
    if (it->second.pending) return std::nullopt;
    if (std::chrono::steady_clock::now() < it->second.expires) return it->second.name;
    q.entries.erase(it);
  }
  if (q.running >= maxQueries) return std::nullopt;
  if (q.entries.size() >= maxEntries_) {  // a flood from many addresses: forget the answers
    std::erase_if(q.entries, [](const auto& item) { return !item.second.pending; });
  }
  q.entries[address] = Entry{};
  ++q.running;
  Query(address);
  q.resolved.wait_for(lock, limit, [&] {
    auto found = q.entries.find(address);
    return found == q.entries.end() || !found->second.pending;
  });
  auto found = q.entries.find(address);
  return found == q.entries.end() || found->second.pending ? std::string() : found->second.name;
}

// The query runs on a thread of its own so that the wait for it has a limit: a resolver call
// cannot be interrupted. A failed query is not remembered.
void ReverseLookupCache::Query(const std::string& address) {
  std::thread([queries = queries_, resolver = resolver_, ttl = ttl_, address] {
    std::optional<std::string> name;
    try {
      name = resolver(address);
    } catch (...) {
    }
    std::lock_guard lock(queries->mutex);
    --queries->running;
    if (name) {
      queries->entries[address] = Entry{*name, std::chrono::steady_clock::now() + ttl, false};
    } else {
      queries->entries.erase(address);
    }
    queries->resolved.notify_all();
  }).detach();
}

}  // namespace qv::net
