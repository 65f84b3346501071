// The reverse lookup cache: one query per address at a time, a limit on the wait for it, answers
// kept for their time, and a bounded number of entries.
#include "net/reverse_lookup_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace qv::net {
namespace {

using namespace std::chrono_literals;

TEST(ReverseLookupCache, OneQueryPerAddressWaitedForAtMostTheLimitAndItsAnswerKept) {
  auto queries = std::make_shared<std::atomic<int>>(0);
  auto release = std::make_shared<std::atomic<bool>>(false);
  ReverseLookupCache cache(
      [queries, release](const std::string& address) {
        if ((*queries)++ == 0) throw std::runtime_error("resolver gone");
        for (int i = 0; i < 500 && address == "127.0.0.2" && !*release; ++i) {
          std::this_thread::sleep_for(10ms);
        }
        return address == "127.0.0.2" ? std::string("pc7") : std::string();
      },
      300ms);
  EXPECT_EQ(cache.Lookup("127.0.0.9", 1s), "") << "a failed query";
  EXPECT_EQ(cache.Lookup("127.0.0.9", 1s), "") << "not remembered: asked again";
  EXPECT_EQ(queries->load(), 2);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cache.Lookup("127.0.0.2", 100ms), "") << "no answer within the limit";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(cache.Lookup("127.0.0.2", 1s), std::nullopt) << "its query is still under way";
  EXPECT_EQ(cache.Lookup("127.0.0.3", 1s, 1), std::nullopt) << "at most one query running";
  release->store(true);
  std::optional<std::string> name;
  for (int i = 0; i < 100 && !name; ++i) {
    std::this_thread::sleep_for(10ms);
    name = cache.Lookup("127.0.0.2", 1s);
  }
  EXPECT_EQ(name, "pc7") << "the late answer is kept";
  EXPECT_EQ(queries->load(), 3);
  std::this_thread::sleep_for(350ms);
  EXPECT_EQ(cache.Lookup("127.0.0.2", 1s), "pc7");
  EXPECT_EQ(queries->load(), 4) << "asked again after its time";
}

TEST(ReverseLookupCache, AFullCacheForgetsFinishedEntriesInsteadOfGrowing) {
  auto queries = std::make_shared<std::atomic<int>>(0);
  ReverseLookupCache cache(
      [queries](const std::string&) {
        ++*queries;
        return std::string("host");
      },
      std::chrono::hours(1), 4);
  for (int i = 0; i < 10; ++i) cache.Lookup("10.0.0." + std::to_string(i), 1s);
  EXPECT_EQ(queries->load(), 10);
  cache.Lookup("10.0.0.9", 1s);  // still there
  EXPECT_EQ(queries->load(), 10);
  cache.Lookup("10.0.0.0", 1s);  // forgotten when the cache filled
  EXPECT_EQ(queries->load(), 11);
}

}  // namespace
}  // namespace qv::net
