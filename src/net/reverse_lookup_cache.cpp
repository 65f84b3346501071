#include "net/reverse_lookup_cache.h"

#include <thread>
#include <utility>

namespace qv::net {

ReverseLookupCache::ReverseLookupCache(Resolver resolver, std::chrono::milliseconds ttl,
                                       size_t maxEntries)
    : resolver_(std::move(resolver)), ttl_(ttl), maxEntries_(maxEntries) {}

std::string ReverseLookupCache::Lookup(const std::string& address) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    auto it = entries_.find(address);
    if (it == entries_.end()) break;
    if (it->second.pending) {
      resolved_.wait(lock);  // the thread resolving it notifies, whatever the outcome
      continue;
    }
    if (now < it->second.expires) return it->second.name;
    entries_.erase(it);
    break;
  }
  MakeRoom(std::chrono::steady_clock::now());
  entries_[address] = Entry{};
  lock.unlock();
  std::string name;
  try {
    name = resolver_(address);
  } catch (...) {
    lock.lock();
    entries_.erase(address);
    resolved_.notify_all();
    throw;
  }
  lock.lock();
  Entry& entry = entries_[address];
  entry.name = name;
  entry.expires = std::chrono::steady_clock::now() + ttl_;
  entry.pending = false;
  resolved_.notify_all();
  return name;
}

std::optional<std::string> ReverseLookupCache::LookupWithin(const std::string& address,
                                                            std::chrono::milliseconds limit,
                                                            size_t maxQueries) {
  Queries& q = *queries_;
  std::unique_lock lock(q.mutex);
  const auto now = std::chrono::steady_clock::now();
  auto it = q.entries.find(address);
  if (it != q.entries.end()) {
    if (it->second.pending) return std::nullopt;
    if (now < it->second.expires) return it->second.name;
    q.entries.erase(it);
  }
  if (q.running >= maxQueries) return std::nullopt;
  if (q.entries.size() >= maxEntries_) {
    std::erase_if(q.entries, [](const auto& item) { return !item.second.pending; });
  }
  q.entries[address] = Entry{};
  ++q.running;
  // The query runs on a thread of its own so that the caller's wait has a limit; the resolver
  // call itself cannot be interrupted.
  std::thread([queries = queries_, resolver = resolver_, ttl = ttl_, address] {
    std::string name;
    bool answered = true;
    try {
      name = resolver(address);
    } catch (...) {
      answered = false;
    }
    std::lock_guard done(queries->mutex);
    --queries->running;
    if (answered) {
      Entry& entry = queries->entries[address];
      entry.name = name;
      entry.expires = std::chrono::steady_clock::now() + ttl;
      entry.pending = false;
    } else {
      queries->entries.erase(address);
    }
    queries->resolved.notify_all();
  }).detach();
  const bool resolved = q.resolved.wait_for(lock, limit, [&] {
    auto found = q.entries.find(address);
    return found == q.entries.end() || !found->second.pending;
  });
  if (!resolved) return std::string();
  auto found = q.entries.find(address);
  return found == q.entries.end() ? std::string() : found->second.name;
}

void ReverseLookupCache::MakeRoom(std::chrono::steady_clock::time_point now) {
  if (entries_.size() < maxEntries_) return;
  std::erase_if(entries_, [now](const auto& item) {
    return !item.second.pending && item.second.expires <= now;
  });
  // Still full (a flood from many addresses): forget every finished one.
  if (entries_.size() >= maxEntries_) {
    std::erase_if(entries_, [](const auto& item) { return !item.second.pending; });
  }
}

}  // namespace qv::net
