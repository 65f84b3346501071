// The daemon prepares a group's datafile at start-up: gaps filled, old days archived.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/files.h"
#include "platform/time.h"
#include "store/datafile.h"
#include "support/daemon_process.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "wire/day_record.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

std::vector<double> DatesOf(const std::string& path) {
  std::vector<double> dates;
  platform::File file = platform::File::Open(path, platform::OpenMode::Read, false);
  for (int64_t pos = 0; pos + wire::kDayRecordSize <= file.Size(); pos += wire::kDayRecordSize) {
    double date = 0;
    file.ReadAt(pos, &date, sizeof date);
    dates.push_back(date);
  }
  return dates;
}

TEST(DatafileStartupTest, GapsAreFilledAndOldDaysMoveToTheArchive) {
  test::TempDir dir;
  const double today = platform::Today();
  {
    platform::File file =
        platform::File::Open(dir.File("office.qdb"), platform::OpenMode::CreateTruncate, false);
    wire::DayRecord record{};
    for (int offset : {-10, -9, -8, -7, -6, -4, -3, -2, -1, 1, 2}) {  // -5 and today missing
      wire::SetDayDate(record, today + offset);
      wire::SetTitle(record, "day " + std::to_string(offset));
      file.Write(record.data(), record.size());
    }
  }
  dir.Write("Server.ini",
            "[Options]\r\nLanguage=0\r\n[NetWork]\r\nPort=" + std::to_string(test::FreePortPair()) +
                "\r\nDirectSend=1\r\nTCPNoDelay=1\r\n"
                "[DataBases]\r\nCount=1\r\nAlias1=Office\r\n[DataBase - 1]\r\nName=" +
                dir.File("office.qdb") +
                "\r\nCount=3\r\nCountArc=5\r\nTime Begin=9\r\nTime End=20\r\nStep=0\r\n"
                "UserCount=1\r\nUser_1=127.0.0.2::Anna\r\nArchive Link=0\r\n");
  test::DaemonProcess daemon(QV_SERVERD_PATH, dir.Path());
  ASSERT_TRUE(daemon.WaitForOutput("Initialization -> Ok!")) << daemon.Stdout();
  EXPECT_NE(daemon.Stdout().find("OK! Data correction - Office"), std::string::npos);
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitForExit(2s), 0);

  std::vector<double> expectedData, expectedArchive;
  for (int offset = -3; offset <= 2; ++offset) expectedData.push_back(today + offset);
  for (int offset = -8; offset <= -4; ++offset) expectedArchive.push_back(today + offset);
  EXPECT_EQ(DatesOf(dir.File("office.qdb")), expectedData);
  EXPECT_EQ(DatesOf(dir.File("office.arc")), expectedArchive);
}

}  // namespace
}  // namespace qv
