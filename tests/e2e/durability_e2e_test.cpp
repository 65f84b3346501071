// Acknowledged edits survive the daemon being killed: three users edit 200 days, the daemon is
// killed with SIGKILL in the middle of a further burst, and after a restart every acknowledged
// edit reads back and the datafile holds whole records in ascending order.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "platform/files.h"
#include "platform/time.h"
#include "requests_fixture.h"
#include "wire/day_record.h"

namespace qv::e2e {
namespace {

constexpr int kDays = 200;
constexpr int kUsers = 3;
constexpr int kWindow = 8;             // edits a user has on the way at once
constexpr int kAckedBeforeKill = 600;  // acknowledgments of the burst before the kill

Bytes EditTitle(double day, const std::string& title) {
  return Request(2, 0, [&](uint8_t* p) {
    wire::SetDoubleAt(p, wire::request::kDateOffset, day);
    SetText(p, wire::request::kText, title);
  });
}

Bytes ReadWeek(double day) {
  return Request(wire::code::kRequest, wire::subcode::kDays, [&](uint8_t* p) {
    wire::SetDoubleAt(p, wire::request::kDateOffset, day);
    wire::StoreField<uint16_t>(p + wire::request::kDaysOffset, 7);
  });
}

struct Sent {
  int day;
  std::string title;
};

class DurabilityE2E : public RequestsE2E {};

TEST_F(DurabilityE2E, AcknowledgedEditsSurviveAKill) {
  StartDaemon();
  const double first = platform::Today() + 1;
  std::vector<std::unique_ptr<client::Client>> users;
  for (const char* name : {"alice", "bob", "carol"}) {
    users.push_back(Login(name));
    ASSERT_TRUE(users.back());
  }

  // The days, created in date order; then the three users each edit their third of them.
  for (int d = 0; d < kDays; ++d) {
    ASSERT_TRUE(users[0]->SendFrame(EditTitle(first + d, "init " + std::to_string(d))));
    ASSERT_TRUE(users[0]->ReceiveFrameWithCode(wire::code::kAcknowledgment, 5s)) << d;
  }

  // Each user sends its edits kWindow at a time; acknowledgments come back in its order.
  std::vector<std::vector<Sent>> sent(kUsers);
  std::vector<size_t> acked(kUsers, 0);
  std::atomic<int> totalAcked{0};
  std::atomic<bool> killed{false};
  std::vector<std::thread> threads;
  for (int u = 0; u < kUsers; ++u) {
    threads.emplace_back([&, u] {
      client::Client& c = *users[static_cast<size_t>(u)];
      for (int seq = 0; seq < 100000 && !killed; ++seq) {
        while (sent[u].size() - acked[u] >= kWindow) {
          auto frame = c.ReceiveFrame(5s);
          if (!frame) return;  // the daemon is gone
          if (!frame->empty() && client::Int32At(*frame, 0) == wire::code::kAcknowledgment) {
            ++acked[u];
            ++totalAcked;
          }
        }
        const int day = u + kUsers * (seq % (kDays / kUsers));
        const std::string title = "u" + std::to_string(u) + " e" + std::to_string(seq);
        sent[u].push_back({day, title});
        if (!c.SendFrame(EditTitle(first + day, title))) return;
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (totalAcked < kAckedBeforeKill && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  daemon_->Signal(SIGKILL);
  killed = true;
  ASSERT_TRUE(daemon_->WaitForExit(5s));
  for (auto& t : threads) t.join();
  ASSERT_GE(totalAcked.load(), kAckedBeforeKill) << "the burst was too slow";
  users.clear();

  // For each day: the titles it may show, from its last acknowledged edit on.
  std::vector<std::vector<std::string>> allowed(kDays);
  for (int u = 0; u < kUsers; ++u) {
    std::vector<int> lastAcked(kDays, -1);
    for (size_t i = 0; i < acked[u]; ++i) lastAcked[sent[u][i].day] = static_cast<int>(i);
    for (size_t i = 0; i < sent[u].size(); ++i) {
      const Sent& s = sent[u][i];
      if (static_cast<int>(i) >= lastAcked[s.day]) allowed[s.day].push_back(s.title);
    }
    for (int d = 0; d < kDays; ++d) {
      if (d % kUsers == u && lastAcked[d] < 0) allowed[d].push_back("init " + std::to_string(d));
    }
  }

  daemon_ =
      test::DaemonProcess::StartWhenFree(QV_SERVERD_PATH, dir_.Path(), "Initialization -> Ok!");
  ASSERT_NE(Stdout().find("Initialization -> Ok!"), std::string::npos) << Stdout();
  EXPECT_NE(Stdout().find("Group 1 -> journal: "), std::string::npos)
      << "the journal was written onto the datafile again\n"
      << Stdout();
  auto reader = Login("alice");
  ASSERT_TRUE(reader);
  for (int d = 0; d < kDays; d += 7) {
    ASSERT_TRUE(reader->SendFrame(ReadWeek(first + d)));
    auto week = Next(*reader, 5s);  // passes over status broadcasts
    ASSERT_TRUE(week && week->size() == static_cast<size_t>(wire::days_reply::kWeekReplySize));
    for (int i = 0; i < 7 && d + i < kDays; ++i) {
      const wire::ConstDayBytes day(week->data() + 24 + i * wire::kDayRecordSize,
                                    wire::kDayRecordSize);
      const std::string title(wire::Title(day));
      const auto& ok = allowed[d + i];
      EXPECT_NE(std::find(ok.begin(), ok.end(), title), ok.end())
          << "day " << d + i << " reads \"" << title << "\", its last acknowledged edit is lost";
    }
  }
  // An edit just before a clean stop: the stop brings it into the datafile and empties the
  // journal.
  ASSERT_TRUE(reader->SendFrame(EditTitle(first, "before the stop")));
  ASSERT_TRUE(reader->ReceiveFrameWithCode(wire::code::kAcknowledgment, 5s));
  reader.reset();
  daemon_->Stop(5s);
  daemon_.reset();
  for (const char* journal : {".jnl", ".jn2"}) {
    EXPECT_EQ(platform::FileSize(DatafilePath() + journal), 0) << journal;
  }

  const int64_t size = platform::FileSize(DatafilePath());
  EXPECT_EQ(size % wire::kDayRecordSize, 0);
  platform::File file = platform::File::Open(DatafilePath(), platform::OpenMode::Read, false);
  double previous = 0;
  for (int64_t pos = 0; pos + wire::kDayRecordSize <= size; pos += wire::kDayRecordSize) {
    double date = 0;
    file.ReadAt(pos, &date, sizeof date);
    EXPECT_LT(previous, date) << "record " << pos / wire::kDayRecordSize;
    previous = date;
  }
  EXPECT_EQ(size / wire::kDayRecordSize, kDays);
  wire::DayRecord firstDay{};
  file.ReadAt(0, firstDay.data(), firstDay.size());
  EXPECT_EQ(wire::Title(firstDay), "before the stop");
}

}  // namespace
}  // namespace qv::e2e
