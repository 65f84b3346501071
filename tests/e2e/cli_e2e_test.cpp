// The command-line client's commands against the real daemon.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "client/cli.h"
#include "requests_fixture.h"

namespace qv::e2e {
namespace {

class CliE2E : public RequestsE2E {
 protected:
  int Run(const std::string& local, std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    std::vector<std::string> line = {"--port", std::to_string(port_), "--local",
                                     local,    "--timeout",           "3000"};
    line.insert(line.end(), args.begin(), args.end());
    return client::RunClientCli(line, out_, err_);
  }
  std::ostringstream out_, err_;
};

TEST_F(CliE2E, CommandsAgainstARunningServer) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  ASSERT_EQ(Run("127.0.0.2", {"hello"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("user: alice\nserver: SERVER\n"), std::string::npos) << out_.str();

  ASSERT_EQ(Run("127.0.0.2", {"set-title", "2025-12-09", "Planning"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("acknowledged"), std::string::npos);
  ASSERT_EQ(Run("127.0.0.3", {"set-slot", "2025-12-09", "2", "10.00", "Standup"}), 0) << err_.str();
  EXPECT_EQ(Run("127.0.0.3", {"set-slot", "2025-12-09", "70", "10.00", "x"}), 3) << err_.str();
  EXPECT_NE(err_.str().find("refused"), std::string::npos);

  ASSERT_EQ(Run("127.0.0.4", {"read", "2025-12-09", "2"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("2025-12-09  Planning\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  slot 2 10.00  Standup\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("2025-12-10  \n"), std::string::npos) << out_.str();

  const std::string body = dir_.Path() + "/note.txt";
  test::WriteFile(body, "see you at ten");
  ASSERT_EQ(Run("127.0.0.2", {"mail", "bob,carol", body}), 0) << err_.str();
  const std::string inbox = dir_.Path() + "/inbox";
  std::filesystem::create_directory(inbox);
  ASSERT_EQ(Run("127.0.0.3", {"fetch-mail", inbox}), 0) << err_.str();
  EXPECT_NE(out_.str().find("1 message(s)\nfrom alice"), std::string::npos) << out_.str();
  std::ifstream saved(inbox + "/message-1.mqv", std::ios::binary);
  const std::string message(std::istreambuf_iterator<char>(saved), {});
  ASSERT_GT(message.size(), 1056u);
  EXPECT_EQ(message.substr(1056), "see you at ten");

  // Carol watches while alice changes a day.
  std::ostringstream watched, watchErrors;
  std::thread watcher([&] {
    client::RunClientCli({"--port", std::to_string(port_), "--local", "127.0.0.4", "watch", "2"},
                         watched, watchErrors);
  });
  std::this_thread::sleep_for(500ms);
  ASSERT_EQ(Run("127.0.0.2", {"set-title", "2025-12-11", "Review"}), 0) << err_.str();
  watcher.join();
  EXPECT_NE(watched.str().find("user status table:"), std::string::npos) << watched.str();
  EXPECT_NE(watched.str().find("mail is waiting"), std::string::npos) << watched.str();
  EXPECT_NE(watched.str().find("status: alice@127.0.0.2 on line"), std::string::npos);
  EXPECT_NE(watched.str().find("change 2/0 on 2025-12-11: \"Review\""), std::string::npos)
      << watched.str();
}

TEST_F(CliE2E, ClearErrorsForRefusedAndUnansweredConnectionsAndBadUsage) {
  EXPECT_EQ(Run("127.0.0.2", {"hello"}), 2);  // no server yet
  EXPECT_NE(err_.str().find("cannot connect to 127.0.0.1:" + std::to_string(port_)),
            std::string::npos)
      << err_.str();
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  EXPECT_EQ(Run("127.0.0.9", {"hello"}), 2);  // no user on that host
  EXPECT_NE(err_.str().find("did not connect back"), std::string::npos) << err_.str();
  EXPECT_EQ(Run("127.0.0.2", {"frobnicate"}), 1);
  EXPECT_NE(err_.str().find("unknown command frobnicate"), std::string::npos);
  EXPECT_EQ(Run("127.0.0.2", {"read"}), 1);
  EXPECT_EQ(Run("127.0.0.2", {"read", "2025-02-30"}), 1);
  EXPECT_EQ(Run("127.0.0.2", {"--help"}), 0);
  EXPECT_NE(out_.str().find("usage: quorvane-client"), std::string::npos);
}

}  // namespace
}  // namespace qv::e2e
