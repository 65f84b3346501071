// The reverse lookup cache: one lookup per address at a time, results kept for their time.
#include "net/reverse_lookup_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qv::net {
namespace {

using namespace std::chrono_literals;

TEST(ReverseLookupCache, ConcurrentLookupsOfOneAddressShareOneQueryAndResultsExpire) {
  std::atomic<int> queries{0};
  ReverseLookupCache cache(
      [&](const std::string& address) {
        ++queries;
        std::this_thread::sleep_for(100ms);  // a slow resolver: the others arrive meanwhile
        return address == "127.0.0.2" ? std::string("pc7") : std::string();
      },
      300ms);
  std::vector<std::thread> threads;
  std::atomic<int> named{0};
  for (int i = 0; i < 40; ++i) {
    threads.emplace_back([&] {
      if (cache.Lookup("127.0.0.2") == "pc7") ++named;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(named.load(), 40);
  EXPECT_EQ(queries.load(), 1);

  // An address without a name is remembered too; another address has its own query.
  EXPECT_EQ(cache.Lookup("127.0.0.9"), "");
  EXPECT_EQ(cache.Lookup("127.0.0.9"), "");
  EXPECT_EQ(queries.load(), 2);

  // After its time the name is looked up again.
  std::this_thread::sleep_for(350ms);
  EXPECT_EQ(cache.Lookup("127.0.0.2"), "pc7");
  EXPECT_EQ(queries.load(), 3);
}

TEST(ReverseLookupCache, AFailedQueryIsNotRememberedAndWakesTheWaiters) {
  std::atomic<int> queries{0};
  ReverseLookupCache cache([&](const std::string&) -> std::string {
    if (queries++ == 0) {
      std::this_thread::sleep_for(50ms);
      throw std::runtime_error("resolver gone");
    }
    return "pc7";
  });
  std::thread first([&] { EXPECT_THROW(cache.Lookup("127.0.0.2"), std::runtime_error); });
  std::this_thread::sleep_for(10ms);
  // Waits for the failing query, then makes its own.
  EXPECT_EQ(cache.Lookup("127.0.0.2"), "pc7");
  first.join();
  EXPECT_EQ(queries.load(), 2);
}

TEST(ReverseLookupCache, AFullCacheForgetsFinishedEntriesInsteadOfGrowing) {
  std::atomic<int> queries{0};
  ReverseLookupCache cache(
      [&](const std::string&) {
        ++queries;
        return std::string("host");
      },
      std::chrono::hours(1), 4);
  for (int i = 0; i < 10; ++i) cache.Lookup("10.0.0." + std::to_string(i));
  EXPECT_EQ(queries.load(), 10);
  // The newest is still there; the oldest were forgotten when the cache filled.
  cache.Lookup("10.0.0.9");
  EXPECT_EQ(queries.load(), 10);
  cache.Lookup("10.0.0.0");
  EXPECT_EQ(queries.load(), 11);
}

}  // namespace
}  // namespace qv::net
