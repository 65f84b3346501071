// The seed corpus of the fuzz target, replayed through its harness in every build: each seed
// reaches the handlers it was made for and breaks no invariant of the server's files, and the
// way a stream is cut into receive events does not change what it does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "request_stream.h"

namespace qv::fuzz {
namespace {

std::vector<uint8_t> Seed(const std::string& name) {
  std::ifstream in(std::string(QV_FUZZ_CORPUS) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Violations(const RunSummary& s) {
  std::string all;
  for (const auto& v : s.violations) all += v + "\n";
  return all;
}

TEST(FuzzCorpus, EverySeedReachesWhatItWasMadeFor) {
  const std::map<std::string, std::function<void(const RunSummary&)>> expected = {
      {"requests_short",
       [](const RunSummary& s) {
         EXPECT_EQ(s.dataRequests, 21);  // the empty frame is not handed over
         EXPECT_GE(s.replies, 15);
         EXPECT_EQ(s.mailWorkersStarted, 1);
       }},
      {"requests_random_chunks", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests, 21); }},
      {"requests_full_size",
       [](const RunSummary& s) {
         EXPECT_EQ(s.dataRequests, 3);
         EXPECT_EQ(s.replies, 4);  // hello reply, acknowledgment, forward to bob, days
       }},
      {"requests_table_chunks", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests, 3); }},
      {"requests_bytewise", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests, 2); }},
      {"requests_group_without_datafile",
       [](const RunSummary& s) {
         EXPECT_EQ(s.dataRequests, 4);
         EXPECT_GE(s.replies, 3);
       }},
      {"two_clients",
       [](const RunSummary& s) {
         EXPECT_EQ(s.dataRequests, 5);
         EXPECT_EQ(s.mailPackages, 1);
         EXPECT_EQ(s.storedMessages, 1);
         EXPECT_EQ(s.mailWorkersStarted, 1);
         // Mark forwarded; days reply and alice's mark to bob; poll forwarded; its answer to
         // alice; mail waiting for bob.
         EXPECT_EQ(s.replies, 6);
       }},
      {"mail_stored",
       [](const RunSummary& s) {
         EXPECT_EQ(s.mailPackages, 1);
         EXPECT_GE(s.storedMessages, 2);  // bob and carol; "nobody" and the empty name skipped
         EXPECT_EQ(s.mailWorkersStarted, 1);
       }},
      {"mail_long_address",
       [](const RunSummary& s) {
         EXPECT_EQ(s.mailPackages, 1);
         EXPECT_EQ(s.storedMessages, 2);  // carol and dave; bob is after the NUL
       }},
      {"mail_direct",
       [](const RunSummary& s) {
         EXPECT_EQ(s.mailPackages, 2);
         EXPECT_EQ(s.storedMessages, 0);
         // bob and dave; not alice (the sender), nor carol (off line), nor bob from "bob"
         EXPECT_EQ(s.replies, 2);
       }},
      {"misaligned_header", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests, 1); }},
      {"huge_length", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests + s.closes, 0); }},
      {"over_spool_threshold", [](const RunSummary& s) { EXPECT_EQ(s.dataRequests, 0); }},
      {"negative_length",
       [](const RunSummary& s) {
         EXPECT_EQ(s.closes, 1);
         EXPECT_EQ(s.dataRequests, 1);  // the hello on the fresh connection
       }},
      {"spooled_mail",
       [](const RunSummary& s) {
         EXPECT_EQ(s.mailPackages, 1);
         EXPECT_EQ(s.storedMessages, 2);
       }},
      {"spooled_request",
       [](const RunSummary& s) { EXPECT_EQ(s.dataRequests + s.mailPackages, 0); }},
  };
  RequestStreamHarness harness;
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QV_FUZZ_CORPUS)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seeds;
    const RunSummary summary = harness.Run(Seed(name));
    EXPECT_TRUE(summary.violations.empty()) << Violations(summary);
    EXPECT_EQ(summary.receiveErrors, 0);
    const auto check = expected.find(name);
    ASSERT_NE(check, expected.end()) << "a seed without an expectation";
    check->second(summary);
  }
  EXPECT_EQ(seeds, expected.size());
}

TEST(FuzzCorpus, HowTheStreamIsCutChangesNothing) {
  RequestStreamHarness harness;
  for (const char* name : {"requests_short", "requests_full_size", "mail_stored", "mail_direct",
                           "negative_length", "spooled_mail"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> seed = Seed(name);
    ASSERT_GT(seed.size(), 2u);
    const std::span<const uint8_t> stream(seed.begin() + 2, seed.end());
    for (uint8_t scheme = 1; scheme < kChunkTable; ++scheme) {
      SCOPED_TRACE(scheme);
      const uint8_t flags = static_cast<uint8_t>((seed[0] & ~kChunkMask) | scheme);
      const RunSummary cut = RunAndCompareWhole(harness, MakeInput(flags, 31, stream));
      EXPECT_TRUE(cut.violations.empty()) << Violations(cut);
      EXPECT_GT(cut.dataRequests + cut.mailPackages, 0);
    }
  }
  // The header repair depends on the bytes at hand, so such a stream is not compared.
  const RunSummary repaired = RunAndCompareWhole(harness, Seed("misaligned_header"));
  EXPECT_TRUE(repaired.headerRepaired);
}

}  // namespace
}  // namespace qv::fuzz
