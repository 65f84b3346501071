// The server under a client that never reads its callback connection: what the daemon spends
// stays bounded, the client is faulted and reset, and the other users go on undisturbed.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "e2e/process_figures.h"
#include "e2e/requests_fixture.h"
#include "platform/blocking_socket.h"
#include "platform/time.h"

namespace qv::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using client::Int32At;

// How long the hostile client works; QV_FLOOD_SECONDS overrides it (15 for the full run).
int FloodSeconds() {
  const char* text = std::getenv("QV_FLOOD_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 4;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

Bytes WeekRequest(double day) {
  return Request(1000, 3, [day](uint8_t* p) {
    wire::SetDoubleAt(p, 12, day);
    wire::StoreField<uint16_t>(p + wire::request::kDaysOffset, 7);
  });
}

Bytes TitleEdit(double day, int32_t tag) {
  return Request(2, 0, [day, tag](uint8_t* p) {
    wire::SetDoubleAt(p, 12, day);
    wire::SetInt32At(p, wire::request::kSlotIdOffset, tag);
    SetText(p, wire::request::kText, "edit " + std::to_string(tag));
  });
}

class BoundsE2E : public RequestsE2E {};

TEST_F(BoundsE2E, AClientThatNeverReadsIsFaultedWhileTheOthersFlow) {
  StartDaemon();
  auto bob = Login("bob");
  auto carol = Login("carol");
  ASSERT_TRUE(bob && carol);
  const pid_t pid = daemon_->Pid();
  const double firstDay = platform::Today() + 1;
  for (int d = 0; d < 10; ++d) {
    ASSERT_TRUE(bob->SendFrame(TitleEdit(firstDay + d, -1)));
    ASSERT_TRUE(bob->ReceiveFrameWithCode(3000, 5s));
  }
  while (carol->ReceiveFrame(200ms)) {
  }

  const auto end = Clock::now() + std::chrono::seconds(FloodSeconds());
  std::atomic<bool> done{false};
  std::atomic<int> sessions{0}, resets{0};
  std::atomic<long> weekRequests{0};
  // Alice: a small receive buffer she never reads, week requests as fast as TCP takes them;
  // when the server drops her she comes back.
  std::thread alice([&] {
    while (Clock::now() < end) {
      client::ClientOptions options{"127.0.0.2", "127.0.0.1", port_, true, 4096};
      client::Client c(options);
      if (!c.Login(2s)) {
        std::this_thread::sleep_for(50ms);
        continue;
      }
      ++sessions;
      int i = 0;
      while (Clock::now() < end && c.SendFrame(WeekRequest(firstDay + i++ % 4))) ++weekRequests;
      if (Clock::now() < end) ++resets;
    }
  });
  long maxKb = 0, maxThreads = 0;
  std::thread monitor([&] {
    while (!done) {
      maxKb = std::max(maxKb, test::ResidentKb(pid));
      maxThreads = std::max(maxThreads, test::ThreadCount(pid));
      std::this_thread::sleep_for(20ms);
    }
  });
  // Bob edits, one at a time; Carol receives the forwarded copies.
  std::mutex mutex;
  std::vector<Clock::time_point> sent;
  std::vector<double> ackMs, forwardMs;
  std::thread carolReader([&] {
    while (!done) {
      auto frame = carol->ReceiveFrame(100ms);
      if (!frame || frame->size() != 2351 || Int32At(*frame, 0) != 2) continue;
      const int32_t tag = Int32At(*frame, wire::request::kSlotIdOffset);
      std::lock_guard lock(mutex);
      if (tag >= 0 && static_cast<size_t>(tag) < sent.size()) {
        forwardMs.push_back(Ms(Clock::now() - sent[static_cast<size_t>(tag)]));
      }
    }
  });
  int32_t tag = 0;
  bool bobFailed = false;
  while (Clock::now() < end) {
    {
      std::lock_guard lock(mutex);
      sent.push_back(Clock::now());
    }
    if (!bob->SendFrame(TitleEdit(firstDay + tag % 10, tag)) ||
        !bob->ReceiveFrameWithCode(3000, 5s)) {
      bobFailed = true;
      break;
    }
    std::lock_guard lock(mutex);
    ackMs.push_back(Ms(Clock::now() - sent[static_cast<size_t>(tag)]));
    ++tag;
  }
  alice.join();
  std::this_thread::sleep_for(300ms);  // the last forwards
  done = true;
  monitor.join();
  carolReader.join();

  const int limitLines = daemon_->Count("bytes waiting");
  const double ackP99 = Percentile(ackMs, 0.99), forwardP99 = Percentile(forwardMs, 0.99);
  std::printf(
      "flood %d s: %ld week requests, alice %d sessions, %d reset, %d queue-limit lines; "
      "daemon peak %ld kB resident, %ld threads; bob %zu edits, ack p50 %.2f / p99 %.2f ms, "
      "forward to carol p50 %.2f / p99 %.2f ms (%zu)\n",
      FloodSeconds(), weekRequests.load(), sessions.load(), resets.load(), limitLines, maxKb,
      maxThreads, ackMs.size(), Percentile(ackMs, 0.5), ackP99, Percentile(forwardMs, 0.5),
      forwardP99, forwardMs.size());
  EXPECT_FALSE(bobFailed);
  EXPECT_GE(sessions.load(), 1);
  EXPECT_GE(resets.load(), 1);  // faulted and reset by the housekeeping tick
  EXPECT_GE(limitLines, 1);
  EXPECT_TRUE(WaitForLog("Error of send process - alice (127.0.0.2): more than 8388608 bytes"));
  if (!test::kSanitized) {
    EXPECT_LT(maxKb, 64 * 1024);  // the sanitizers' own memory is larger
  }
  EXPECT_LT(maxThreads, 40);
  EXPECT_GT(ackMs.size(), 50u);
  EXPECT_GE(forwardMs.size(), ackMs.size() * 9 / 10);
  EXPECT_LT(ackP99, 50.0 * test::kSanitizerFactor);
  EXPECT_LT(forwardP99, 50.0 * test::kSanitizerFactor);
}

TEST_F(BoundsE2E, FiveHundredConnectionsFromAnUnknownAddressWhileAUserWorks) {
  StartDaemon();
  auto bob = Login("bob");
  ASSERT_TRUE(bob);
  const pid_t pid = daemon_->Pid();
  const double day = platform::Today() + 1;
  int32_t tag = 0;
  std::vector<double> ackMs;
  const auto edit = [&] {
    const auto start = Clock::now();
    if (!bob->SendFrame(TitleEdit(day, tag++)) || !bob->ReceiveFrameWithCode(3000, 5s))
      return false;
    ackMs.push_back(Ms(Clock::now() - start));
    return true;
  };
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(edit());
  std::this_thread::sleep_for(200ms);
  const long fdsBefore = test::OpenDescriptors(pid), threadsBefore = test::ThreadCount(pid);
  ackMs.clear();

  // 500 connections from 127.0.0.9, which is nobody's host, within about 2 s; each stays open
  // until the server closes it.
  std::atomic<int> connected{0};
  long maxThreads = 0, maxFds = 0;
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    std::vector<platform::BlockingSocket> sockets(500);
    const auto start = Clock::now();
    for (size_t i = 0; i < sockets.size(); ++i) {
      if (sockets[i].Connect("127.0.0.9", "127.0.0.1", port_, 2s)) ++connected;
      std::this_thread::sleep_until(start + std::chrono::milliseconds(4 * (i + 1)));
    }
    std::this_thread::sleep_for(500ms);
    flooding = false;
  });
  bool answered = true;
  while (flooding) {
    if (!edit()) {
      answered = false;
      break;
    }
    maxThreads = std::max(maxThreads, test::ThreadCount(pid));
    maxFds = std::max(maxFds, test::OpenDescriptors(pid));
    std::this_thread::sleep_for(5ms);
  }
  flood.join();
  // Everything the flood made the daemon hold goes again within a few seconds.
  long fdsAfter = 0, threadsAfter = 0;
  const auto deadline = Clock::now() + 5s;
  const auto settleStart = Clock::now();
  do {
    std::this_thread::sleep_for(50ms);
    fdsAfter = test::OpenDescriptors(pid);
    threadsAfter = test::ThreadCount(pid);
  } while ((fdsAfter > fdsBefore || threadsAfter > threadsBefore) && Clock::now() < deadline);
  const double settleSeconds = std::chrono::duration<double>(Clock::now() - settleStart).count();
  const std::string illegal = "Incorrect connection! Illegal user from [127.0.0.9";
  for (int i = 0; i < 250 && daemon_->Count(illegal) < 500; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  const int rejected = daemon_->Count(illegal);
  std::printf(
      "flood: %d of 500 connected, %d rejected; bob %zu edits answered meanwhile, p99 %.2f ms; "
      "daemon threads %ld before, %ld at most, %ld after; descriptors %ld before, %ld at most, "
      "%ld after (%.1f s)\n",
      connected.load(), rejected, ackMs.size(), Percentile(ackMs, 0.99), threadsBefore, maxThreads,
      threadsAfter, fdsBefore, maxFds, fdsAfter, settleSeconds);
  EXPECT_TRUE(answered);
  EXPECT_GT(ackMs.size(), 20u);
  EXPECT_EQ(connected.load(), 500);
  EXPECT_EQ(rejected, 500);                   // each one identified and closed
  EXPECT_LE(maxThreads, threadsBefore + 33);  // at most 32 identifications at once
  EXPECT_LE(fdsAfter, fdsBefore);
  EXPECT_LE(threadsAfter, threadsBefore);
  // Bob is still served as before.
  EXPECT_TRUE(edit());
}

Bytes StoredMail(const std::string& address, const Bytes& longList, size_t bodySize) {
  Bytes p(wire::mail::kHeaderSize, 0);
  wire::SetInt32At(p.data(), 0, 4000);
  SetText(p.data(), wire::mail::kAddress, address);
  SetText(p.data(), wire::mail::kSender, "dave");
  if (!longList.empty()) {
    uint8_t word[4];
    wire::SetInt32At(word, 0, static_cast<int32_t>(longList.size()));
    p.insert(p.end(), word, word + 4);
    p.insert(p.end(), longList.begin(), longList.end());
  }
  p.insert(p.end(), bodySize, uint8_t{'m'});
  return p;
}

std::vector<std::filesystem::path> MessageFiles(const std::string& pop3) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(pop3)) {
    if (entry.path().extension() == ".mqv") files.push_back(entry.path());
  }
  return files;
}

TEST_F(BoundsE2E, OneRecipientNamedTenThousandTimesAndASpooledMailToThree) {
  StartDaemon();
  auto dave = Login("dave");
  ASSERT_TRUE(dave);
  const std::string pop3 = dir_.Path() + "/POP3";
  std::string names;
  for (int i = 0; i < 10000; ++i) names += "bob,";
  ASSERT_TRUE(dave->SendFrame(StoredMail("LONG@@ADDRESS", Bytes(names.begin(), names.end()), 10)));
  ASSERT_TRUE(WaitForLog("Address list cut to"));
  const auto deadline = Clock::now() + 5s;
  while (std::filesystem::file_size(Pop3("127.0.0.3.bin")) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(std::filesystem::file_size(Pop3("127.0.0.3.bin")), 249u);  // one notice
  EXPECT_EQ(MessageFiles(pop3).size(), 1u);

  // 600 kB: spooled. One file, renamed for carol, with two more names for alice and bob.
  const Bytes large = StoredMail("alice,bob,carol", {}, 600000);
  ASSERT_TRUE(dave->SendFrame(large));
  const auto until = Clock::now() + 10s;
  while (std::filesystem::file_size(Pop3("127.0.0.4.bin")) == 0 && Clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  std::vector<std::filesystem::path> linked;
  for (const auto& file : MessageFiles(pop3)) {
    if (std::filesystem::file_size(file) == large.size()) linked.push_back(file);
  }
  ASSERT_EQ(linked.size(), 3u);
  for (const auto& file : linked) {
    EXPECT_EQ(std::filesystem::hard_link_count(file), 3u) << file;
    EXPECT_TRUE(std::filesystem::equivalent(file, linked[0]));
  }
  std::printf("10,000 names: %zu message file; spooled mail to 3: %zu names of one file\n",
              MessageFiles(pop3).size() - linked.size(), linked.size());
}

}  // namespace
}  // namespace qv::e2e
