// Thousands of random, truncated and shifted requests and mail packages from one admitted
// client: the daemon keeps serving, and no day other than the ones the requests named changes.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <random>

#include "requests_fixture.h"

namespace qv::e2e {
namespace {

using client::Int32At;
using wire::SetDoubleAt;
using wire::SetInt32At;

constexpr double kDay = 46000;
constexpr double kFuzzFirstDay = kDay + 100;  // every date a random request may name
constexpr int kFuzzDays = 5;
constexpr int kFrames = 3000;

std::map<double, std::string> DaysOnDisk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  std::map<double, std::string> days;
  for (size_t at = 0; at + 55766 <= bytes.size(); at += 55766) {
    double date = 0;
    std::memcpy(&date, bytes.data() + at, sizeof date);
    days[date] = bytes.substr(at, 55766);
  }
  return days;
}

class Fuzzer {
 public:
  explicit Fuzzer(uint32_t seed) : rng_(seed) {}

  // incorrect: the frame is no request even when shifted, which makes the server reset the
  // client.
  Bytes Next(bool& incorrect) {
    incorrect = Pick(500) == 0;
    if (incorrect) return Bytes(9, 0xFF);
    const int kind = Pick(100);
    if (kind < 20) return Mail();
    Bytes p = DataRequest();
    if (kind < 31) return Shift(p);  // two bytes out of step
    if (kind < 60)
      p.resize(static_cast<size_t>(Pick(2352)));  // truncated
    else if (kind < 65)
      p.resize(2351 + static_cast<size_t>(Pick(3000)));
    return p;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  void RandomBytes(Bytes& p) {
    for (auto& b : p) b = static_cast<uint8_t>(rng_());
  }

  double Date() {
    const int which = Pick(10);
    if (which < 6) return kFuzzFirstDay + Pick(kFuzzDays) + Pick(1000) / 1000.0;
    const double unusable[] = {0.0, std::nan(""), 1e300, -1e12, 5e6, -0.5};
    return unusable[Pick(6)];
  }

  Bytes DataRequest() {
    static const int32_t kCodes[] = {2,  3,  4,  6,  7,    16,   17,   26,   27,   40,
                                     41, 42, 51, 50, 1000, 1000, 7001, 7002, 2000, 5000};
    Bytes p(2351);
    RandomBytes(p);
    const int choice = Pick(22);
    const int32_t code = choice < 20 ? kCodes[choice] : 1 + Pick(16384);
    int32_t subcode = Pick(4) == 0 ? static_cast<int32_t>(rng_()) : Pick(90) - 10;
    if (code == 1000) {
      const int32_t subcodes[] = {1, 2, 3, 5, 6, 9};
      subcode = subcodes[Pick(6)];
    }
    if (code == 2000 && Pick(2) == 0) subcode = 7002;
    wire::SetCodes(p.data(), code, subcode);
    wire::SetInt32At(p.data(), 8, Pick(4) == 0 ? static_cast<int32_t>(rng_()) : Pick(80) - 5);
    wire::SetDoubleAt(p.data(), 12, Date());
    // The copy source may be any day; only the target (offset 12) is written.
    wire::SetDoubleAt(p.data(), 20, Pick(2) == 0 ? kDay + Pick(5) : Date());
    wire::StoreField<uint16_t>(p.data() + 28, static_cast<uint16_t>(Pick(10)));
    return p;
  }

  Bytes Shift(const Bytes& p) {
    Bytes shifted(p.size());
    shifted[0] = static_cast<uint8_t>(rng_());
    shifted[1] = static_cast<uint8_t>(rng_());
    std::copy(p.begin(), p.end() - 2, shifted.begin() + 2);
    return shifted;
  }

  Bytes Mail() {
    Bytes p(1056 + static_cast<size_t>(Pick(300)));
    RandomBytes(p);
    wire::SetInt32At(p.data(), 0, 4000);
    const int32_t kinds[] = {0, 10, 11, static_cast<int32_t>(rng_())};
    wire::SetInt32At(p.data(), 4, kinds[Pick(4)]);
    const char* addresses[] = {"alice", "bob,carol", "", "nobody,alice", "LONG@@ADDRESS", ",,"};
    const int address = Pick(7);
    if (address < 6) SetText(p.data(), wire::mail::kAddress, addresses[address]);
    SetText(p.data(), wire::mail::kSender, Pick(2) ? "bob" : "mallory");
    if (address == 4) {
      if (p.size() < 1065) p.resize(1065);
      const int32_t lengths[] = {-1,
                                 0,
                                 5,
                                 1 << 30,
                                 static_cast<int32_t>(p.size()) - 1060,
                                 static_cast<int32_t>(p.size()) - 1059};
      wire::SetInt32At(p.data(), 1056, lengths[Pick(6)]);
      std::memcpy(p.data() + 1060, "alice", 5);
    }
    if (Pick(4) == 0) p.resize(static_cast<size_t>(Pick(static_cast<int>(p.size()) + 1)));
    return p;
  }

  std::mt19937 rng_;
};

class FuzzE2E : public RequestsE2E {
 protected:
  // Reads whatever the server sent; true while the session is up.
  static bool Drain(client::Client& c) {
    while (c.ReceiveFrame(2ms)) {
    }
    return !c.ServerClosed();
  }
  std::unique_ptr<client::Client> Relogin(const std::string& user) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      client::ClientOptions options;
      options.localAddress = HostOf(user);
      options.port = port_;
      auto c = std::make_unique<client::Client>(options);
      if (c->Login(2s)) return c;
      c.reset();
      std::this_thread::sleep_for(100ms);
    }
    return nullptr;
  }
};

TEST_F(FuzzE2E, RandomAndTruncatedRequestsChangeOnlyTheDaysTheyName) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  {
    auto alice = Login("alice");
    ASSERT_TRUE(alice);
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(alice->SendFrame(Request(i == 2 ? 4 : 2, 3, [i](uint8_t* p) {
        wire::SetDoubleAt(p, 12, kDay + i);
        SetText(p, wire::request::kText, "day " + std::to_string(i));
      })));
      auto ack = Next(*alice);
      ASSERT_TRUE(ack);
      ASSERT_EQ(Int32At(*ack, 0), 3000);
    }
  }  // alice leaves: the fuzzing client is the only one on line
  const std::map<double, std::string> before = DaysOnDisk(DatafilePath());
  ASSERT_EQ(before.size(), 5u);

  auto bob = Login("bob");
  ASSERT_TRUE(bob);
  Fuzzer fuzzer(20261207);
  int resets = 0, unexpectedResets = 0;
  for (int i = 0; i < kFrames; ++i) {
    bool incorrect = false;
    const Bytes frame = fuzzer.Next(incorrect);
    const bool sent = bob->SendFrame(frame);
    if (incorrect) {
      EXPECT_TRUE(bob->WaitServerConnectionClosed(3s)) << "frame " << i;
      ++resets;
    } else if (!sent || !Drain(*bob)) {
      ++unexpectedResets;
    } else {
      continue;
    }
    bob.reset();
    bob = Relogin("bob");
    ASSERT_TRUE(bob) << "frame " << i << "\n" << Stdout();
  }
  // Every frame has been handled once the hello sent after them is answered.
  ASSERT_TRUE(bob->SendFrame(Request(1000, 1)));
  ASSERT_TRUE(bob->ReceiveFrameWithCode(1000, 10s));

  // A fresh client is served correctly.
  auto carol = Login("carol");
  ASSERT_TRUE(carol);
  ASSERT_TRUE(carol->SendFrame(Request(1000, 1)));
  auto hello = carol->ReceiveFrameWithCode(1000, 3s);  // after the notice of waiting mail
  ASSERT_TRUE(hello);
  ASSERT_EQ(hello->size(), 2351u);
  EXPECT_EQ(Int32At(*hello, 0), 1000);
  EXPECT_EQ(Int32At(*hello, 4), 2);
  EXPECT_EQ(wire::ReadShortString(hello->data(), wire::hello::kUserName), "carol");

  const std::map<double, std::string> after = DaysOnDisk(DatafilePath());
  for (const auto& [date, record] : before) {
    ASSERT_TRUE(after.count(date)) << date;
    EXPECT_TRUE(after.at(date) == record) << "day " << date << " changed";
  }
  for (const auto& [date, record] : after) {
    if (before.count(date)) continue;
    EXPECT_GE(date, kFuzzFirstDay);
    EXPECT_LT(date, kFuzzFirstDay + kFuzzDays);
  }
  EXPECT_GT(resets, 0);
  EXPECT_EQ(unexpectedResets, 0);
  const std::string log = Stdout();
  std::cout << "fuzz: " << kFrames << " frames, " << resets << " resets, "
            << after.size() - before.size() << " days added, "
            << std::count(log.begin(), log.end(), '\n') << " log lines\n";
}

}  // namespace
}  // namespace qv::e2e
