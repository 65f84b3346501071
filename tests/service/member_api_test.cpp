// The member API driven without packages or sockets: two fake front ends of one group and one of
// another group, as the browser front end uses it.
#include <memory>
#include <vector>

#include "platform/time.h"
#include "service/member_service.h"
#include "service/sessions.h"
#include "service_fixture.h"
#include "store/journal.h"
#include "store/record_store.h"
#include "support/test_server.h"

namespace qv::service::test {
namespace {

constexpr double kDay = 46000;

class FakeFrontEnd final : public MemberSink {
 public:
  void Receive(const state::SharedBytes& payload) override { received.push_back(*payload); }
  int32_t Code(size_t i) const { return wire::Int32At(received.at(i).data(), 0); }
  int32_t Subcode(size_t i) const { return wire::Int32At(received.at(i).data(), 4); }
  std::vector<std::vector<uint8_t>> received;
};

class MemberApiTest : public ServiceFixture {
 protected:
  MemberApiTest() {
    // The status table as start-up builds it: 5000, then one 86-byte slot per user.
    server_.roster.statusTable.assign(4 + 4 * wire::status_slot::kSize, 0);
    wire::SetInt32At(server_.roster.statusTable.data(), 0, wire::code::kStatusTable);
    int32_t pos = 4;
    for (state::TMyNameUser* user : {&Alice(), &Bob(), &Carol(), &Dave()}) {
      user->StatusSlotPos = pos;
      pos += wire::status_slot::kSize;
    }
    Team().Journal = std::make_shared<store::DayJournal>(store::RealFiles(),
                                                         store::JournalName(Team().FileName));
  }
  ~MemberApiTest() override { Team().Journal.reset(); }

  std::shared_ptr<DurableAcks> durable_ = std::make_shared<DurableAcks>(server_);
  MemberService api_{server_, durable_};
  FakeFrontEnd first_, second_, otherGroup_;
};

TEST_F(MemberApiTest, EditOutcomeForwardAndStatusReachTheOtherFrontEndInOrder) {
  api_.Attach(0, first_);
  api_.Attach(0, second_);
  api_.Attach(1, otherGroup_);

  RequestBuilder edit(wire::code::kEditTitle, 0);
  edit.Date(kDay).Text("from the first");
  const ChangeOutcome outcome = api_.Apply({0, 0}, edit.Bytes(), wire::request::kSize, &first_);
  ASSERT_EQ(outcome.status, ChangeStatus::Journalled) << outcome.reason;
  ASSERT_TRUE(outcome.notice);

  bool durable = false;
  api_.WhenDurable(outcome.ticket, [&] { durable = true; });
  EXPECT_FALSE(durable) << "not before the journal sync is reported";
  ASSERT_TRUE(qv::test::RunUntil(
      loop_, [&] { return durable; }, std::chrono::seconds(5)));

  // A native member comes on line: its status slot is announced to everybody.
  Bob().Connected = false;
  SessionStart(server_, Bob());

  EXPECT_TRUE(first_.received.size() == 1) << "no echo of its own change";
  ASSERT_EQ(second_.received.size(), 2u);
  EXPECT_EQ(second_.received[0], std::vector<uint8_t>(edit.Bytes().begin(), edit.Bytes().end()))
      << "the change as a native member receives it";
  EXPECT_EQ(second_.Code(1), wire::code::kReply);
  EXPECT_EQ(second_.Subcode(1), wire::subcode::kStatusSlot);
  ASSERT_EQ(otherGroup_.received.size(), 1u) << "another group sees only the status";
  EXPECT_EQ(otherGroup_.Subcode(0), wire::subcode::kStatusSlot);

  std::vector<wire::DayRecord> days;
  std::string why;
  ASSERT_TRUE(api_.ReadDays({0, 1}, kDay, 2, days, why)) << why;
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(wire::Title(days[0]), "from the first");
  EXPECT_EQ(wire::DayDate(days[1]), kDay + 1);

  const state::SharedBytes table = api_.StatusTable();
  ASSERT_EQ(table->size(), 4u + 4 * wire::status_slot::kSize);
  EXPECT_EQ(wire::Int32At(table->data(), 0), wire::code::kStatusTable);
  EXPECT_EQ(wire::Int32At(table->data(), static_cast<size_t>(Bob().StatusSlotPos)), 1)
      << "Bob on line";
}

TEST_F(MemberApiTest, RefusedAndFailedChangesAreNeitherForwardedNorAcknowledged) {
  api_.Attach(0, second_);
  RequestBuilder outOfRange(wire::code::kEditSlot, 99);
  outOfRange.Date(kDay).Text("x");
  ChangeOutcome outcome = api_.Apply({0, 0}, outOfRange.Bytes(), wire::request::kSize, &first_);
  EXPECT_EQ(outcome.status, ChangeStatus::Refused);
  EXPECT_FALSE(outcome.reason.empty());

  RequestBuilder farAhead(wire::code::kEditTitle, 0);
  farAhead.Date(platform::Today() + store::kHorizonDays + 1).Text("too far");
  EXPECT_EQ(api_.Apply({0, 0}, farAhead.Bytes(), wire::request::kSize, &first_).status,
            ChangeStatus::Refused);

  Team().EditsRefusedWhy = "the datafile cannot be created";
  RequestBuilder edit(wire::code::kEditTitle, 0);
  edit.Date(kDay).Text("lost");
  outcome = api_.Apply({0, 0}, edit.Bytes(), wire::request::kSize, &first_);
  EXPECT_EQ(outcome.status, ChangeStatus::WriteFailed);
  EXPECT_EQ(outcome.reason, "the datafile cannot be created");

  EXPECT_TRUE(second_.received.empty());
  EXPECT_EQ(server_.runtime.metrics.editsRefused.load(), 2u);
  EXPECT_EQ(server_.runtime.metrics.editsWriteFailed.load(), 1u);
  EXPECT_EQ(api_.Apply({1, 0}, edit.Bytes(), wire::request::kSize, nullptr).status,
            ChangeStatus::Refused)
      << "a group without a datafile keeps no change";

  api_.Detach(second_);
  Team().EditsRefusedWhy.clear();
  EXPECT_TRUE(api_.Apply({0, 0}, edit.Bytes(), wire::request::kSize, &first_).Accepted());
  EXPECT_TRUE(second_.received.empty()) << "detached";
}

TEST_F(MemberApiTest, AJournalPastItsCapRefusesTheChangeWithoutARetry) {
  // A cap below one entry: once the first change is pending, the next finds the journal full.
  Team().Journal.reset();  // the fixture's, which holds the file
  Team().Journal = std::make_shared<store::DayJournal>(
      store::RealFiles(), store::JournalName(Team().FileName),
      store::CheckpointPolicy{store::kCheckpointJournalBytes, store::kCheckpointAge, 64});
  api_.Attach(0, second_);
  RequestBuilder edit(wire::code::kEditTitle, 0);
  edit.Date(kDay).Text("first");
  ASSERT_TRUE(api_.Apply({0, 0}, edit.Bytes(), wire::request::kSize, &first_).Accepted());
  edit.Date(kDay + 1).Text("second");
  const ChangeOutcome full = api_.Apply({0, 0}, edit.Bytes(), wire::request::kSize, &first_);
  EXPECT_EQ(full.status, ChangeStatus::WriteFailed);
  EXPECT_EQ(second_.received.size(), 1u) << "only the change the journal took";
  EXPECT_FALSE(Logged("Warning! Rewrite the file")) << "no repeat against a full journal";
}

}  // namespace
}  // namespace qv::service::test
