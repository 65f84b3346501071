// Every request kind of the data request handler against the real daemon: answered to the
// requester and forwarded to the other hosts of the group, nothing to the other group.
#include <cmath>
#include <cstring>
#include <filesystem>

#include "requests_fixture.h"
#include "store/day_edits.h"

namespace qv::e2e {
namespace {

using client::Int32At;
using wire::DoubleAt;
using wire::SetDoubleAt;
using wire::SetInt32At;

constexpr double kDay = 46000;

double DoubleOf(const Bytes& b, size_t offset) {
  return wire::DoubleAt(b.data(), offset);
}
std::string TextOf(const Bytes& b, wire::ShortStringField field) {
  return std::string(wire::ReadShortString(b.data(), field));
}

TEST_F(RequestsE2E, PollIsAnsweredAtOnceWhenNobodyElseIsOnLine) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("alice");
  ASSERT_TRUE(alice);
  auto dave = Login("dave");  // another group does not count
  ASSERT_TRUE(dave);
  ASSERT_TRUE(alice->SendFrame(Request(7002, 0)));
  const auto answer = Next(*alice);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 8u);
  EXPECT_EQ(Int32At(*answer, 0), 2000);
  EXPECT_EQ(Int32At(*answer, 4), 7002);
  EXPECT_TRUE(Quiet(*dave, 200ms));
}

TEST_F(RequestsE2E, EveryRequestKindAnsweredAndForwarded) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("alice");
  auto bob = Login("bob");
  auto carol = Login("carol");
  auto dave = Login("dave");
  ASSERT_TRUE(alice && bob && carol && dave);
  client::Client& a = *alice;
  client::Client& b = *bob;
  client::Client& c = *carol;
  client::Client& d = *dave;

  // Hello.
  ASSERT_TRUE(a.SendFrame(Request(1000, 1)));
  auto hello = Next(a);
  ASSERT_TRUE(hello);
  ASSERT_EQ(hello->size(), 2351u);
  EXPECT_EQ(Int32At(*hello, 0), 1000);
  EXPECT_EQ(Int32At(*hello, 4), 2);
  EXPECT_EQ(TextOf(*hello, wire::hello::kUserName), "alice");
  EXPECT_EQ(TextOf(*hello, wire::hello::kServer), "SERVER");
  EXPECT_EQ(DoubleOf(*hello, 560), 0.0);  // a new datafile may still take days in front

  // 1000/2 is answered with nothing.
  ASSERT_TRUE(a.SendFrame(Request(1000, 2)));
  EXPECT_TRUE(Quiet(a));

  // An edit: acknowledged to alice, forwarded to bob and carol, nothing to dave.
  ASSERT_TRUE(a.SendFrame(Request(2, 0, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay);
    SetText(p, wire::request::kText, "planning");
  })));
  auto ack = Next(a);
  ASSERT_TRUE(ack);
  EXPECT_EQ(Int32At(*ack, 0), 3000);
  EXPECT_EQ(Int32At(*ack, 8), 2);
  EXPECT_EQ(DoubleOf(*ack, 12), kDay);
  for (client::Client* other : {&b, &c}) {
    auto copy = Next(*other);
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy->size(), 2351u);
    EXPECT_EQ(Int32At(*copy, 0), 2);
    EXPECT_EQ(TextOf(*copy, wire::request::kText), "planning");
  }
  EXPECT_TRUE(Quiet(d, 100ms));

  // Days: n = 0 gives the header alone, n = 9 seven days.
  ASSERT_TRUE(b.SendFrame(Request(1000, 3, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay);
    wire::StoreField<uint16_t>(p + 28, 0);
  })));
  auto none = Next(b);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->size(), 24u);
  EXPECT_EQ(Int32At(*none, 0), 2000);
  EXPECT_EQ(Int32At(*none, 4), 1);
  ASSERT_TRUE(b.SendFrame(Request(1000, 3, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay);
    wire::StoreField<uint16_t>(p + 28, 9);
  })));
  auto week = Next(b);
  ASSERT_TRUE(week);
  ASSERT_EQ(week->size(), 24u + 7u * 55766u);
  EXPECT_EQ(Int32At(*week, 20), 7);
  EXPECT_EQ(wire::Title(wire::ConstDayBytes(week->data() + 24, 55766)), "planning");
  EXPECT_EQ(wire::DayDate(wire::ConstDayBytes(week->data() + 24 + 6 * 55766, 55766)), kDay + 6);

  // Refused (slot 70): one 7000 with the code at 8, no acknowledgment, no forward.
  ASSERT_TRUE(a.SendFrame(Request(4, 70, [](uint8_t* p) { wire::SetDoubleAt(p, 12, kDay); })));
  auto refusal = Next(a);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(Int32At(*refusal, 0), 7000);
  EXPECT_EQ(Int32At(*refusal, 8), 4);
  EXPECT_TRUE(Quiet(a));
  EXPECT_TRUE(Quiet(b, 50ms));

  // Slot id: 2000/4 to alice, 52 to the other hosts.
  ASSERT_TRUE(a.SendFrame(Request(1000, 6, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay);
    wire::SetInt32At(p, 8, 3);
  })));
  auto slotId = Next(a);
  ASSERT_TRUE(slotId);
  EXPECT_EQ(Int32At(*slotId, 0), 2000);
  EXPECT_EQ(Int32At(*slotId, 4), 4);
  EXPECT_EQ(Int32At(*slotId, 36), store::MakeSlotId(1, kDay));
  for (client::Client* other : {&b, &c}) {
    auto announced = Next(*other);
    ASSERT_TRUE(announced);
    EXPECT_EQ(Int32At(*announced, 0), 52);
    EXPECT_EQ(Int32At(*announced, 4), 3);
    EXPECT_EQ(Int32At(*announced, 36), store::MakeSlotId(1, kDay));
  }

  // Slot insert/remove: acknowledged with the opposite code, forwarded as sent.
  const std::pair<int32_t, int32_t> acks[] = {{40, 41}, {41, 40}, {42, 41}};
  for (const auto& [requestCode, ackCode] : acks) {
    ASSERT_TRUE(a.SendFrame(Request(requestCode, 5, [](uint8_t* p) {
      wire::SetDoubleAt(p, 12, kDay + 1);
      SetText(p, wire::request::kSlotTime, "11.00");
      SetText(p, wire::request::kText, "lunch");
    })));
    auto slotAck = Next(a);
    ASSERT_TRUE(slotAck);
    EXPECT_EQ(Int32At(*slotAck, 0), 3000);
    EXPECT_EQ(Int32At(*slotAck, 8), ackCode) << requestCode;
    auto forwarded = Next(b);
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(Int32At(*forwarded, 0), requestCode);
    ASSERT_TRUE(Next(c));
  }

  // Marks: forwarded, kept, cleared first-match only, sent after a days reply to others.
  const auto mark = [](double value, uint8_t flag) {
    return Request(7001, 0, [value, flag](uint8_t* p) {
      wire::SetDoubleAt(p, 12, kDay);
      wire::SetDoubleAt(p, 20, value);
      p[30] = flag;
    });
  };
  ASSERT_TRUE(a.SendFrame(mark(7, 1)));
  ASSERT_TRUE(a.SendFrame(mark(7, 1)));
  ASSERT_TRUE(b.SendFrame(mark(7, 1)));
  ASSERT_TRUE(a.SendFrame(mark(7.5, 0)));
  for (int i = 0; i < 3; ++i) {
    auto forwarded = Next(b);
    ASSERT_TRUE(forwarded) << i;
    EXPECT_EQ(Int32At(*forwarded, 0), 7001);
    EXPECT_EQ(DoubleOf(*forwarded, 20), i < 2 ? 7.0 : 7.5);
  }
  auto bobsMark = Next(a);
  ASSERT_TRUE(bobsMark);
  EXPECT_EQ(DoubleOf(*bobsMark, 20), 100007.0);  // bob is user 1
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(Next(c)) << i;
  ASSERT_TRUE(b.SendFrame(Request(1000, 3, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay);
    wire::StoreField<uint16_t>(p + 28, 1);
  })));
  auto days = Next(b);
  ASSERT_TRUE(days);
  EXPECT_EQ(days->size(), 24u + 55766u);
  auto kept = Next(b);  // alice's second mark; never bob's own
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->size(), 32u);
  EXPECT_EQ(Int32At(*kept, 0), 7001);
  EXPECT_EQ(DoubleOf(*kept, 20), 7.0);
  EXPECT_TRUE(Quiet(b));

  // Poll by carol: forwarded to alice and bob; answered once both have answered.
  ASSERT_TRUE(c.SendFrame(Request(7002, 0)));
  ASSERT_TRUE(Next(a));
  ASSERT_TRUE(Next(b));
  ASSERT_TRUE(a.SendFrame(Request(2000, 7002)));
  EXPECT_TRUE(Quiet(c, 200ms));
  ASSERT_TRUE(b.SendFrame(Request(2000, 7002)));
  auto pollAnswer = Next(c);
  ASSERT_TRUE(pollAnswer);
  ASSERT_EQ(pollAnswer->size(), 8u);
  EXPECT_EQ(Int32At(*pollAnswer, 4), 7002);

  // Copy-day: the week from the target day to the whole group, requester included.
  ASSERT_TRUE(a.SendFrame(Request(50, 0, [](uint8_t* p) {
    wire::SetDoubleAt(p, 12, kDay + 3);
    wire::SetDoubleAt(p, 20, kDay);
    p[31] = 1;
  })));
  for (client::Client* member : {&a, &b, &c}) {
    auto copied = Next(*member);
    ASSERT_TRUE(copied);
    ASSERT_EQ(copied->size(), 390386u);
    EXPECT_EQ(Int32At(*copied, 4), 2);
    EXPECT_EQ(wire::Title(wire::ConstDayBytes(copied->data() + 24, 55766)), "planning");
  }

  // The group without a datafile: acknowledged only.
  ASSERT_TRUE(d.SendFrame(Request(2, 0, [](uint8_t* p) { wire::SetDoubleAt(p, 12, kDay); })));
  auto daveAck = Next(d);
  ASSERT_TRUE(daveAck);
  EXPECT_EQ(Int32At(*daveAck, 0), 3000);
  EXPECT_TRUE(Quiet(a, 100ms));

  // The network settings report is logged.
  ASSERT_TRUE(c.SendFrame(Request(5000, 0)));
  EXPECT_TRUE(WaitForLog("Error in network settings on computer 127.0.0.4"));

  // A frame too large for a request and not mail: spool file deleted, message 89, no answer.
  Bytes huge(600000, 0x41);
  wire::SetInt32At(huge.data(), 0, 7);
  ASSERT_TRUE(d.SendFrame(huge));
  EXPECT_TRUE(WaitForLog("Error in processing data from 127.0.0.5"));
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path() + "/POP3")) {
    EXPECT_NE(entry.path().extension(), ".buf") << entry.path();
  }
  // The session goes on.
  ASSERT_TRUE(d.SendFrame(Request(1000, 1)));
  auto daveHello = Next(d);
  ASSERT_TRUE(daveHello);
  EXPECT_EQ(TextOf(*daveHello, wire::hello::kUserName), "dave");
}

}  // namespace
}  // namespace qv::e2e
