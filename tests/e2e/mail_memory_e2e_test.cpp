// The daemon's memory while its journal syncs keep failing: edits wait for their
// acknowledgment, a member mails another one 200 MiB (direct messages and stored mail, half
// each) to a user whose acknowledgment is held, and the daemon's resident memory stays within
// 64 MiB of what it was before. Once syncs work again the held acknowledgment leaves, and after
// a kill every edit acknowledged before reads back.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>

#include "platform/files.h"
#include "platform/time.h"
#include "process_figures.h"
#include "requests_fixture.h"
#include "wire/day_record.h"

namespace qv::e2e {
namespace {

constexpr int kKeptDays = 20;              // acknowledged before the syncs fail
constexpr int kMails = 400;                // of kMailBytes each: 200 MiB
constexpr size_t kMailBytes = 512 * 1024;  // one package each
constexpr long kGrowthLimitKb = 64 * 1024;

Bytes EditTitle(double day, const std::string& title) {
  return Request(2, 0, [&](uint8_t* p) {
    wire::SetDoubleAt(p, wire::request::kDateOffset, day);
    SetText(p, wire::request::kText, title);
  });
}

class MailMemoryE2E : public RequestsE2E {
 protected:
  // The preloaded library makes the journal's syncs fail while flag_ exists.
  void UseFailingSyncs() {
    daemonEnv_ = {std::string("LD_PRELOAD=") + QV_FAILING_SYNC_PATH, "QV_FAIL_SYNC_FLAG=" + flag_};
    // AddressSanitizer would refuse to come after a preloaded library, and its quarantine of
    // freed memory would count as the daemon's own.
    const char* asan = std::getenv("ASAN_OPTIONS");
    daemonEnv_.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                         "verify_asan_link_order=0:quarantine_size_mb=16");
  }
  // Title of every day in the datafile, by day.
  std::map<double, std::string> Titles() {
    std::map<double, std::string> titles;
    const int64_t size = platform::FileSize(DatafilePath());
    platform::File file = platform::File::Open(DatafilePath(), platform::OpenMode::Read, false);
    wire::DayRecord day{};
    for (int64_t pos = 0; pos + wire::kDayRecordSize <= size; pos += wire::kDayRecordSize) {
      file.ReadAt(pos, day.data(), day.size());
      titles[wire::DayDate(day)] = std::string(wire::Title(day));
    }
    return titles;
  }
  const std::string flag_ = dir_.Path() + "/syncs-fail";
};

TEST_F(MailMemoryE2E, FailingJournalSyncsKeepMemoryBoundedAndLoseNothingAcknowledged) {
  UseFailingSyncs();
  StartDaemon();
  auto alice = Login("alice");
  auto bob = Login("bob");
  ASSERT_TRUE(alice && bob);
  const double first = platform::Today() + 1;
  for (int d = 0; d < kKeptDays; ++d) {
    ASSERT_TRUE(alice->SendFrame(EditTitle(first + d, "kept " + std::to_string(d))));
    ASSERT_TRUE(alice->ReceiveFrameWithCode(wire::code::kAcknowledgment, 5s)) << d;
  }
  const pid_t pid = daemon_->Pid();
  const long startKb = test::ResidentKb(pid);
  ASSERT_GT(startKb, 0);

  test::WriteFile(flag_, "");
  const auto failingSince = std::chrono::steady_clock::now();
  // Both edits are journalled, but no sync succeeds: neither is acknowledged, and everything
  // for bob waits behind his acknowledgment.
  ASSERT_TRUE(alice->SendFrame(EditTitle(first + kKeptDays, "held alice")));
  ASSERT_TRUE(bob->SendFrame(EditTitle(first + kKeptDays + 1, "held bob")));
  EXPECT_FALSE(alice->ReceiveFrameWithCode(wire::code::kAcknowledgment, 300ms))
      << "acknowledged although no sync succeeded";

  const std::string body(kMailBytes, 'm');
  long peakKb = startKb;
  for (int i = 0; i < kMails; ++i) {
    ASSERT_TRUE(alice->SendFrame(MailPackage(i % 2 == 0 ? 11 : 0, "bob", body))) << i;
    if (i % 10 == 0) peakKb = std::max(peakKb, test::ResidentKb(pid));
  }
  // Alice's packages are taken in order: a small mail to carol stored means all came in.
  ASSERT_TRUE(alice->SendFrame(MailPackage(0, "carol", "last")));
  const std::string carolBox = Pop3("127.0.0.4.bin");
  for (int i = 0; i < 3000 && platform::FileSize(carolBox) <= 0; ++i) {
    peakKb = std::max(peakKb, test::ResidentKb(pid));
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(platform::FileSize(carolBox), 0) << "the mail did not all arrive";
  peakKb = std::max(peakKb, test::ResidentKb(pid));
  const double failedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - failingSince).count();
  std::printf(
      "syncs failed for %.1f s while %d MiB were mailed: resident %ld KiB at start, "
      "peak %ld KiB (+%ld KiB)\n",
      failedSeconds, static_cast<int>(kMails * kMailBytes >> 20), startKb, peakKb,
      peakKb - startKb);
  EXPECT_LT(peakKb - startKb, kGrowthLimitKb * test::kSanitizerFactor);
  EXPECT_TRUE(WaitForLog("team.qdb.jnl", 3s)) << "the failing journal was not logged\n" << Stdout();

  // Syncs work again: the held acknowledgment leaves, and a new edit is acknowledged.
  ASSERT_EQ(::unlink(flag_.c_str()), 0);
  EXPECT_TRUE(alice->ReceiveFrameWithCode(wire::code::kAcknowledgment, 15s))
      << "the held acknowledgment did not come once syncs worked\n"
      << Stdout();
  ASSERT_TRUE(alice->SendFrame(EditTitle(first, "after the failure")));
  ASSERT_TRUE(alice->ReceiveFrameWithCode(wire::code::kAcknowledgment, 5s));

  // A kill, a restart that replays the journal and a clean stop that writes it onto the
  // datafile: every acknowledged edit is there.
  alice.reset();
  bob.reset();
  daemon_->Signal(SIGKILL);
  ASSERT_TRUE(daemon_->WaitForExit(5s));
  daemon_ = test::DaemonProcess::StartWhenFree(QV_SERVERD_PATH, dir_.Path(),
                                               "Initialization -> Ok!", 60s, daemonEnv_);
  ASSERT_NE(Stdout().find("Initialization -> Ok!"), std::string::npos) << Stdout();
  daemon_->Stop(5s);
  daemon_.reset();
  const auto titles = Titles();
  EXPECT_EQ(titles.count(first) ? titles.at(first) : "", "after the failure");
  for (int d = 1; d < kKeptDays; ++d) {
    const auto it = titles.find(first + d);
    ASSERT_NE(it, titles.end()) << d;
    EXPECT_EQ(it->second, "kept " + std::to_string(d));
  }
  const auto held = titles.find(first + kKeptDays);
  ASSERT_NE(held, titles.end());
  EXPECT_EQ(held->second, "held alice") << "acknowledged once syncs worked";
}

}  // namespace
}  // namespace qv::e2e
