// A group whose datafile is missing: the daemon creates it at start-up; where it cannot, every
// change of the group is refused, never acknowledged nor forwarded, and counted.
#include <filesystem>

#include "requests_fixture.h"
#include "support/http_get.h"

namespace qv::e2e {
namespace {

using client::Int32At;

constexpr double kDay = 46000;

Bytes TitleEdit(const std::string& title) {
  return Request(2, 0, [&](uint8_t* p) {
    wire::SetDoubleAt(p, wire::request::kDateOffset, kDay);
    SetText(p, wire::request::kText, title);
  });
}

TEST_F(RequestsE2E, MissingDatafileIsCreatedAtStartAndKeepsAnEdit) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon({}, false));
  EXPECT_TRUE(WaitForLog("datafile created: " + DatafilePath())) << Stdout();
  ASSERT_TRUE(std::filesystem::exists(DatafilePath()));
  auto alice = Login("alice");
  ASSERT_TRUE(alice);
  ASSERT_TRUE(alice->SendFrame(TitleEdit("kept")));
  const auto ack = Next(*alice);
  ASSERT_TRUE(ack);
  EXPECT_EQ(Int32At(*ack, 0), 3000);

  ASSERT_TRUE(alice->SendFrame(Request(1000, 3, [](uint8_t* p) {
    wire::SetDoubleAt(p, wire::request::kDateOffset, kDay);
    wire::StoreField<uint16_t>(p + wire::request::kDaysOffset, 1);
  })));
  const auto days = Next(*alice);
  ASSERT_TRUE(days);
  ASSERT_EQ(days->size(), static_cast<size_t>(wire::days_reply::Size(1)));
  const uint8_t* day = days->data() + wire::days_reply::kHeaderSize;
  EXPECT_EQ(wire::Title(wire::ConstDayBytes(day, wire::kDayRecordSize)), "kept");
}

TEST_F(RequestsE2E, DatafileThatCannotBeCreatedRefusesEveryChange) {
  // A regular file where the datafile's directory should be: not even root can create it.
  test::WriteFile(dir_.Path() + "/not-a-directory", "");
  const std::string datafile = dir_.Path() + "/not-a-directory/team.qdb";
  const int feedPort = test::FreePortPair();
  ASSERT_NO_FATAL_FAILURE(StartDaemon(datafile, false,
                                      "[Feed]\r\nPort=" + std::to_string(feedPort) +
                                          "\r\nAddress=127.0.0.1\r\nAllow=127.0.0.1\r\n"));
  EXPECT_TRUE(WaitForLog("the datafile " + datafile + " cannot be created")) << Stdout();
  auto alice = Login("alice");
  auto bob = Login("bob");
  ASSERT_TRUE(alice && bob);

  ASSERT_TRUE(alice->SendFrame(TitleEdit("never stored")));
  const auto answer = Next(*alice);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Int32At(*answer, 0), 7000) << "the refusal, not an acknowledgment";
  EXPECT_EQ(Int32At(*answer, 8), 2) << "the refused code";
  EXPECT_TRUE(Quiet(*bob)) << "a refused change is not forwarded";

  ASSERT_TRUE(WaitForLog("Feed: listening"));
  const auto metrics = test::HttpGet("127.0.0.1", feedPort, "/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("quorvane_refusals_total{kind=\"edit_write_failed\"} 1"),
            std::string::npos)
      << metrics->body;
}

}  // namespace
}  // namespace qv::e2e
