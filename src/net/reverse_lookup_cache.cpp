#include "net/reverse_lookup_cache.h"

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
