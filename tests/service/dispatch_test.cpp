// The data request handler on a real datafile, with the reply package sender recorded.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "service/dispatch.h"
#include "service/reply_sender.h"
#include "service_fixture.h"
#include "state/client_socket.h"
#include "store/day_edits.h"
#include "store/record_store.h"
#include "wire/day_record.h"

namespace qv::service::test {
namespace {

constexpr double kDay = 46000;  // a whole day number

class DispatchTest : public ServiceFixture {
 protected:
  DispatchTest()
      : handler_(
            server_, Recorder(), [this](state::TMyNameUser& u) { mailStarted_.push_back(&u); },
            [this] { return ticks_ += tickStep_; }) {
    Alice().Connected = true;
  }

  void Send(state::TMyNameUser& user, RequestBuilder& request,
            int32_t size = wire::request::kSize) {
    handler_.Handle(user, user.HostName, request.data(), size);
  }

  wire::DayRecord DayOnDisk(double date) {
    store::ReadDays(Team(), server_.runtime.log, 1, date);
    wire::DayRecord day;
    std::memcpy(day.data(), Team().Week->Day(0), day.size());
    return day;
  }

  DataRequestHandler handler_;
  std::vector<state::TMyNameUser*> mailStarted_;
  uint32_t ticks_ = 0;
  uint32_t tickStep_ = 1;
};

TEST_F(DispatchTest, HelloIsAnsweredAndSubcodeTwoIsNot) {
  Team().FirstDate = 45000;
  RequestBuilder hello(1000, 1);
  Send(Alice(), hello, 12);  // a short hello: the rest reads as zeros
  ASSERT_EQ(replies_.size(), 1u);
  const SentReply& r = replies_[0];
  EXPECT_EQ(r.target, &Alice());
  EXPECT_EQ(r.scope, kScopeUser);
  ASSERT_EQ(r.data.size(), 2351u);
  EXPECT_EQ(r.Code(), 1000);
  EXPECT_EQ(r.Subcode(), 2);
  EXPECT_EQ(wire::ReadShortString(r.data.data(), wire::hello::kUserName), "alice");
  EXPECT_EQ(r.data[303], 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data()) + 304, 6), "SERVER");
  EXPECT_EQ(wire::DoubleAt(r.data.data(), 560), 45000.0);

  replies_.clear();
  RequestBuilder two(1000, 2), seven(1000, 7);
  Send(Alice(), two);
  Send(Alice(), seven);
  EXPECT_TRUE(replies_.empty());

  RequestBuilder fetch(1000, 5);
  Send(Alice(), fetch);
  ASSERT_EQ(mailStarted_.size(), 1u);
  EXPECT_EQ(mailStarted_[0], &Alice());
  EXPECT_TRUE(replies_.empty());
}

TEST_F(DispatchTest, PollAnsweredAtOnceWhenNobodyElseIsOnLine) {
  Dave().Connected = true;  // another group does not count
  RequestBuilder poll(7002);
  Send(Alice(), poll, 32);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].target, &Alice());
  EXPECT_EQ(replies_[0].scope, kScopeUser);
  ASSERT_EQ(replies_[0].data.size(), 8u);
  EXPECT_EQ(replies_[0].Code(), 2000);
  EXPECT_EQ(replies_[0].Subcode(), 7002);
  EXPECT_EQ(Team().PollOwner, &Alice());
}

TEST_F(DispatchTest, PollForwardedAndAnsweredWhenAllOthersAnswered) {
  Bob().Connected = true;
  Carol().Connected = true;
  RequestBuilder answer(2000, 7002);
  Send(Bob(), answer, 8);  // no poll pending: ignored
  EXPECT_TRUE(replies_.empty());
  EXPECT_FALSE(Bob().PollAnswered);

  RequestBuilder poll(7002);
  Send(Alice(), poll, 40);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].scope, kScopeGroupOtherHost);
  EXPECT_EQ(replies_[0].host, "127.0.0.2");
  EXPECT_EQ(replies_[0].data.size(), 40u);  // as received
  EXPECT_EQ(replies_[0].Code(), 7002);

  replies_.clear();
  Send(Bob(), answer, 8);
  EXPECT_TRUE(replies_.empty());  // Carol has not answered yet
  Send(Carol(), answer, 8);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].target, &Alice());
  EXPECT_EQ(replies_[0].scope, kScopeUser);
  EXPECT_EQ(replies_[0].host, "127.0.0.2");
  EXPECT_EQ(replies_[0].data.size(), 8u);
  EXPECT_EQ(replies_[0].Subcode(), 7002);
  EXPECT_EQ(Team().PollOwner, nullptr);
  EXPECT_FALSE(Bob().PollAnswered);
  EXPECT_FALSE(Carol().PollAnswered);

  // A user that goes off line no longer holds up the answer.
  replies_.clear();
  Send(Alice(), poll);
  Carol().Connected = false;
  Send(Bob(), answer, 8);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[1].target, &Alice());
}

TEST_F(DispatchTest, MarksAreForwardedKeptAndClearedFirstMatchOnly) {
  Bob().Connected = true;
  RequestBuilder set(7001);
  set.Mark(5.25).Flag(1).Date(kDay);
  Send(Alice(), set, 32);
  Send(Alice(), set, 32);
  Send(Bob(), set, 32);
  ASSERT_EQ(replies_.size(), 3u);
  EXPECT_EQ(replies_[0].scope, kScopeGroupOtherHost);
  EXPECT_EQ(replies_[0].data.size(), 32u);
  EXPECT_EQ(wire::DoubleAt(replies_[0].data.data(), 20), 5.25);  // Alice is user 0
  EXPECT_EQ(wire::DoubleAt(replies_[2].data.data(), 20), 100005.25);
  EXPECT_EQ(replies_[2].host, "127.0.0.3");
  ASSERT_EQ(Team().Subscriptions.size(), 3u);

  // Clearing with another fraction of the same whole mark removes Alice's first record only.
  RequestBuilder clear(7001);
  clear.Mark(5.75).Flag(0);
  Send(Alice(), clear, 32);
  ASSERT_EQ(Team().Subscriptions.size(), 2u);
  EXPECT_EQ(Team().Subscriptions[0].Owner, &Alice());
  EXPECT_EQ(Team().Subscriptions[1].Owner, &Bob());
  // A mark that matches nothing removes nothing.
  clear.Mark(6);
  Send(Alice(), clear, 32);
  EXPECT_EQ(Team().Subscriptions.size(), 2u);

  // A days request of Bob gets Alice's mark after the reply, never his own.
  replies_.clear();
  RequestBuilder days(1000, 3);
  days.Date(kDay).Days(1);
  Send(Bob(), days);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[0].Code(), 2000);
  const SentReply& mark = replies_[1];
  EXPECT_EQ(mark.target, &Bob());
  EXPECT_EQ(mark.scope, kScopeUser);
  ASSERT_EQ(mark.data.size(), 32u);
  EXPECT_EQ(mark.Code(), 7001);
  EXPECT_EQ(wire::DoubleAt(mark.data.data(), 20), 5.25);
  EXPECT_EQ(wire::DoubleAt(mark.data.data(), 12), kDay);
  EXPECT_EQ(mark.data[30], 1);
}

TEST_F(DispatchTest, MarksBeyondTheLimitPerUserAreRefused) {
  server_.setup.limits.marksPerUser = 3;
  RequestBuilder set(7001);
  set.Flag(1).Date(kDay);
  for (int i = 0; i < 4; ++i) Send(Alice(), set.Mark(i), 32);
  EXPECT_EQ(Team().Subscriptions.size(), 3u);
  EXPECT_EQ(replies_.size(), 3u);  // the fourth is not passed on either
  EXPECT_TRUE(Logged("Mark refused: alice (127.0.0.2) holds 3 marks"));
  Send(Bob(), set.Mark(9), 32);  // the limit is per user
  EXPECT_EQ(Team().Subscriptions.size(), 4u);
  // Clearing is never refused and makes room again.
  RequestBuilder clear(7001);
  clear.Flag(0).Mark(1);
  Send(Alice(), clear, 32);
  Send(Alice(), set.Mark(7), 32);
  EXPECT_EQ(Team().Subscriptions.size(), 4u);
  EXPECT_EQ(CountLogged("Mark refused"), 1);
}

TEST_F(DispatchTest, DaysRequestOfZeroAndNineDays) {
  RequestBuilder title(2, 0);
  title.Date(kDay + 1).Text("second day");
  Send(Alice(), title);
  replies_.clear();

  RequestBuilder days(1000, 3);
  days.Date(kDay).Days(0);
  Send(Alice(), days);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].data.size(), 24u);
  EXPECT_EQ(replies_[0].Code(), 2000);
  EXPECT_EQ(replies_[0].Subcode(), 1);
  EXPECT_EQ(wire::DoubleAt(replies_[0].data.data(), 12), kDay);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 20), 0);

  replies_.clear();
  days.Days(9);
  Send(Alice(), days);
  ASSERT_EQ(replies_.size(), 1u);
  const std::vector<uint8_t>& week = replies_[0].data;
  ASSERT_EQ(week.size(), 24u + 7u * 55766u);
  EXPECT_EQ(wire::Int32At(week.data(), 20), 7);  // the records that follow
  for (int i = 0; i < 7; ++i) {
    const wire::ConstDayBytes day(week.data() + 24 + i * 55766, 55766);
    EXPECT_EQ(wire::DayDate(day), kDay + i);
    EXPECT_EQ(wire::Title(day), i == 1 ? "second day" : "");
  }
}

TEST_F(DispatchTest, EditIsStoredForwardedAndAcknowledged) {
  Bob().Connected = true;
  RequestBuilder title(2, 0);
  title.Date(kDay + 0.5).Text("first").Flag(3);
  Send(Alice(), title);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[0].scope, kScopeGroupOtherHost);
  EXPECT_EQ(replies_[0].host, "127.0.0.2");
  EXPECT_EQ(replies_[0].Code(), 2);
  EXPECT_EQ(wire::ReadShortString(replies_[0].data.data(), wire::request::kText), "first");
  const SentReply& ack = replies_[1];
  EXPECT_EQ(ack.target, &Alice());
  EXPECT_EQ(ack.scope, kScopeUser);
  ASSERT_EQ(ack.data.size(), 2351u);
  EXPECT_EQ(ack.Code(), 3000);
  EXPECT_EQ(wire::Int32At(ack.data.data(), 8), 2);
  EXPECT_EQ(wire::DoubleAt(ack.data.data(), 12), kDay + 0.5);
  EXPECT_EQ(ack.data[30], 3);
  EXPECT_EQ(wire::Title(DayOnDisk(kDay)), "first");

  // The second edit's acknowledgment carries the title it replaced.
  replies_.clear();
  title.Text("second");
  Send(Alice(), title);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(wire::ReadShortString(replies_[1].data.data(), wire::request::kText), "first");
  EXPECT_EQ(wire::Title(DayOnDisk(kDay)), "second");
}

TEST_F(DispatchTest, SlotInsertAndRemoveAreAcknowledgedWithTheOppositeCode) {
  const std::pair<int32_t, int32_t> cases[] = {{40, 41}, {41, 40}, {42, 41}};
  for (const auto& [requestCode, ackCode] : cases) {
    replies_.clear();
    RequestBuilder edit(requestCode, 3);
    edit.Date(kDay).SlotTime("10.30").Text("meeting").SlotId(77).SlotFlag(1);
    Send(Alice(), edit);
    ASSERT_FALSE(replies_.empty());
    const SentReply& ack = replies_.back();
    SCOPED_TRACE(requestCode);
    EXPECT_EQ(ack.Code(), 3000);
    EXPECT_EQ(ack.Subcode(), 3);
    EXPECT_EQ(wire::Int32At(ack.data.data(), 8), ackCode);
    EXPECT_EQ(wire::Int32At(ack.data.data(), 36), requestCode == 41 ? 77 : 0);
    EXPECT_EQ(ack.data[40], requestCode == 41 ? 1 : 0);
    if (requestCode != 41) {
      EXPECT_EQ(ack.data[41], 0);
      EXPECT_EQ(ack.data[47], 0);
    }
  }
}

TEST_F(DispatchTest, RefusalWithoutAcknowledgmentOrForward) {
  Bob().Connected = true;
  const std::pair<int32_t, int32_t> outOfRange[] = {{4, 70}, {4, -1}, {6, 60}, {16, -5}, {41, 70}};
  for (const auto& [editCode, index] : outOfRange) {
    replies_.clear();
    RequestBuilder edit(editCode, index);
    edit.Date(kDay).Text("x");
    Send(Alice(), edit);
    SCOPED_TRACE(editCode);
    ASSERT_EQ(replies_.size(), 1u);
    EXPECT_EQ(replies_[0].target, &Alice());
    EXPECT_EQ(replies_[0].scope, kScopeUser);
    EXPECT_EQ(replies_[0].Code(), 7000);
    EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 8), editCode);
    EXPECT_EQ(replies_[0].Subcode(), index);
  }
  EXPECT_EQ(platform::FileSize(DatafilePath()), 0);

  // A day in front of the first record while that is not allowed.
  RequestBuilder later(2, 0);
  later.Date(kDay + 10).Text("later");
  Send(Alice(), later);
  Team().MayInsertFirst = false;
  replies_.clear();
  RequestBuilder earlier(2, 0);
  earlier.Date(kDay).Text("earlier");
  Send(Alice(), earlier);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].Code(), 7000);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 8), 2);
  EXPECT_EQ(platform::FileSize(DatafilePath()), 55766);
}

TEST_F(DispatchTest, SlotIdAssignedOnceAndAnnouncedToOtherHosts) {
  RequestBuilder slotId(1000, 6);
  slotId.Date(kDay).Index2(4);
  Send(Alice(), slotId);
  ASSERT_EQ(replies_.size(), 2u);
  const int32_t id = store::MakeSlotId(1, kDay);
  EXPECT_EQ(replies_[0].Code(), 2000);
  EXPECT_EQ(replies_[0].Subcode(), 4);
  EXPECT_EQ(replies_[0].scope, kScopeUser);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 36), id);
  EXPECT_EQ(replies_[1].Code(), 52);
  EXPECT_EQ(replies_[1].Subcode(), 4);
  EXPECT_EQ(replies_[1].scope, kScopeGroupOtherHost);
  EXPECT_EQ(wire::Int32At(replies_[1].data.data(), 36), id);
  EXPECT_EQ(wire::SlotId(DayOnDisk(kDay), 4), id);

  replies_.clear();
  Send(Alice(), slotId);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 36), id);  // a slot keeps its id

  replies_.clear();
  slotId.Index2(70);
  Send(Alice(), slotId);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].Code(), 7000);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 8), 1000);

  // A date that is no day hands out no id: the request is refused and nothing announced.
  replies_.clear();
  slotId.Index2(4).Date(0);
  Send(Alice(), slotId);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].Code(), 7000);
}

TEST_F(DispatchTest, CopyDaySendsTheWeekToTheGroup) {
  Bob().Connected = true;
  RequestBuilder title(2, 0);
  title.Date(kDay).Text("source");
  Send(Alice(), title);
  replies_.clear();

  RequestBuilder copy(50);
  copy.Date(kDay + 2).Mark(kDay).PartFlags(true, false, false, false, false);
  Send(Alice(), copy);
  ASSERT_EQ(replies_.size(), 1u);
  const SentReply& week = replies_[0];
  EXPECT_EQ(week.scope, kScopeGroup);
  ASSERT_EQ(week.data.size(), 390386u);
  EXPECT_EQ(week.Code(), 2000);
  EXPECT_EQ(week.Subcode(), 2);
  EXPECT_EQ(wire::DoubleAt(week.data.data(), 12), kDay + 2);
  const wire::ConstDayBytes first(week.data.data() + 24, 55766);
  EXPECT_EQ(wire::DayDate(first), kDay + 2);
  EXPECT_EQ(wire::Title(first), "source");
  EXPECT_FALSE(Team().Busy);

  // Refused: the target lies in front of the first record.
  Team().MayInsertFirst = false;
  replies_.clear();
  copy.Date(kDay - 5);
  Send(Alice(), copy);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].Code(), 7000);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 8), 50);
  EXPECT_EQ(replies_[0].scope, kScopeUser);
  EXPECT_FALSE(Team().Busy);
}

TEST_F(DispatchTest, GroupWithoutDatafile) {
  Dave().Connected = true;
  RequestBuilder title(2, 0);
  title.Date(kDay).Text("nowhere");
  handler_.Handle(Dave(), "127.0.0.5", title.data(), 2351);
  ASSERT_EQ(replies_.size(), 1u);  // acknowledged, not forwarded
  EXPECT_EQ(replies_[0].Code(), 3000);
  EXPECT_EQ(replies_[0].target, &Dave());

  replies_.clear();
  RequestBuilder slotId(1000, 6);
  slotId.Date(kDay).Index2(1);
  handler_.Handle(Dave(), "127.0.0.5", slotId.data(), 2351);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(wire::Int32At(replies_[0].data.data(), 36), 0);

  replies_.clear();
  // A days request whose read fails sends nothing more: neither the days nor others' marks.
  state::TMyNameUser stranger;
  server_.roster.groups[1].Subscriptions.push_back(state::MarkRecord{&stranger, {}});
  RequestBuilder days(1000, 3);
  days.Date(kDay).Days(1);
  handler_.Handle(Dave(), "127.0.0.5", days.data(), 2351);
  EXPECT_TRUE(replies_.empty());
  server_.roster.groups[1].Subscriptions.clear();
  EXPECT_TRUE(Logged("Database for Other. "));
}

TEST_F(DispatchTest, NetworkReportSlowEditAndRealignment) {
  RequestBuilder report(5000);
  Send(Alice(), report, 4);
  EXPECT_TRUE(replies_.empty());
  EXPECT_TRUE(Logged("Error in network settings on computer 127.0.0.2"));

  tickStep_ = 1500;
  RequestBuilder title(2, 0);
  title.Date(kDay).Text("slow");
  Send(Alice(), title);
  EXPECT_TRUE(Logged("Warning! Database processing - time:1500"));
  tickStep_ = 1;

  // A hello two bytes late is corrected and answered.
  replies_.clear();
  std::vector<uint8_t> shifted(2351, 0);
  wire::SetCodes(shifted.data() + 2, 1000, 1);
  handler_.Handle(Alice(), "127.0.0.2", shifted.data(), 2351);
  EXPECT_TRUE(Logged("Incorrect values in received data. Values are corrected!"));
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].Subcode(), 2);
  EXPECT_FALSE(Alice().Fault);

  // Still no request after realignment: message 87 alone, the fault flag, no answer.
  replies_.clear();
  wire::SetInt32At(shifted.data() + 2, 0, 20000);
  handler_.Handle(Alice(), "127.0.0.2", shifted.data(), 2351);
  EXPECT_TRUE(replies_.empty());
  EXPECT_TRUE(Alice().Fault);
  EXPECT_EQ(CountLogged("Incorrect values in received data."), 2);
  Alice().Fault = false;
  const uint8_t one[1] = {0};
  handler_.Handle(Alice(), "127.0.0.2", one, 1);
  EXPECT_TRUE(Alice().Fault);
  EXPECT_TRUE(replies_.empty());
}

}  // namespace
}  // namespace qv::service::test

namespace qv::service::test {
namespace {

// Two users on one host with the real reply package sender: each user given a package has its
// (unconnected) socket fail the send and is marked faulty, which shows who was a recipient.
TEST_F(ServiceFixture, TwoUsersOnOneHostGetNoneOfEachOthersForwards) {
  Bob().HostName = Alice().HostName;
  for (state::TMyNameUser* user : {&Alice(), &Bob(), &Carol()}) {
    user->ClientSocket = std::make_shared<state::ClientSocket>(loop_);
    user->Connected = true;
  }
  DataRequestHandler handler(
      server_,
      [this](state::TMyNameUser& target, const uint8_t* data, int32_t size, const std::string& host,
             int scope) { SendReplyPackage(server_, target, data, size, host, scope); },
      {});
  const auto fresh = [this] {
    for (state::TMyNameUser* user : {&Alice(), &Bob(), &Carol()}) user->Fault = false;
  };

  RequestBuilder title(2, 0);
  title.Date(kDay).Text("x");
  handler.Handle(Bob(), "127.0.0.2", title.data(), 2351);
  EXPECT_TRUE(Bob().Fault);     // its acknowledgment
  EXPECT_FALSE(Alice().Fault);  // same host: no forward
  EXPECT_TRUE(Carol().Fault);

  fresh();
  RequestBuilder mark(7001);
  mark.Mark(1).Flag(1);
  handler.Handle(Alice(), "127.0.0.2", mark.data(), 32);
  EXPECT_FALSE(Alice().Fault);
  EXPECT_FALSE(Bob().Fault);
  EXPECT_TRUE(Carol().Fault);

  fresh();
  handler.Handle(Carol(), "127.0.0.4", mark.data(), 32);
  EXPECT_TRUE(Alice().Fault);
  EXPECT_TRUE(Bob().Fault);
  EXPECT_FALSE(Carol().Fault);
}

}  // namespace
}  // namespace qv::service::test
