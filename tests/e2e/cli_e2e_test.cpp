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
  // A slot the record does not have is refused before anything is sent.
  EXPECT_EQ(Run("127.0.0.3", {"set-slot", "2025-12-09", "70", "10.00", "x"}), 1) << err_.str();
  EXPECT_NE(err_.str().find("SLOT 70 is not a number from 0 to 69"), std::string::npos)
      << err_.str();

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
  EXPECT_NE(out_.str().find("1 message(s)\nfrom alice: 14 bytes -> " + inbox + "/note.txt"),
            std::string::npos)
      << out_.str();
  // The file as it was sent, under its own name.
  std::ifstream saved(inbox + "/note.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "see you at ten");

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
  EXPECT_NE(err_.str().find("2025-02-30 is no date: expected YYYY-MM-DD"), std::string::npos)
      << err_.str();
  EXPECT_EQ(Run("127.0.0.2", {"--help"}), 0);
  EXPECT_NE(out_.str().find("usage: quorvane-client"), std::string::npos);

  // Each bad option says which and why.
  const auto fails = [&](std::vector<std::string> line, const std::string& why) {
    out_.str("");
    err_.str("");
    EXPECT_EQ(client::RunClientCli(line, out_, err_), 1) << why;
    EXPECT_NE(err_.str().find(why), std::string::npos) << err_.str();
  };
  fails({"--port", "abc", "hello"}, "--port abc: not a port number from 1 to 65525");
  fails({"--port=70000", "hello"}, "--port 70000: not a port number");
  fails({"--timeout", "soon", "hello"}, "--timeout soon: not a number of milliseconds");
  fails({"--server", "no-such-host.invalid", "hello"}, "--server no-such-host.invalid: no IPv4");
  fails({"--codepage", "KLINGON-9", "hello"}, "--codepage KLINGON-9: no such code page");
  fails({"--frobnicate", "hello"}, "unknown option --frobnicate");
  fails({"hello", "--port"}, "wrong number of arguments for hello");
  fails({"--port"}, "option --port needs a value");
}

// Texts in the office's code page: typed here in UTF-8, stored and shown to office clients in
// Windows-1251, printed here in UTF-8 again; too long a text is refused before it is sent.
TEST_F(CliE2E, TextsAreConvertedAndCheckedBeforeSending) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  // "localhost" is resolved: host names are taken.
  out_.str("");
  err_.str("");
  ASSERT_EQ(client::RunClientCli({"--server", "localhost", "--port", std::to_string(port_),
                                  "--local", "127.0.0.2", "--timeout", "3000", "hello"},
                                 out_, err_),
            0)
      << err_.str();
  const std::string russian = "Планёрка в 10";  // UTF-8
  ASSERT_EQ(Run("127.0.0.2", {"set-title", "2025-12-09", russian}), 0) << err_.str();
  // Another client sees the Windows-1251 bytes.
  auto bob = Login("bob");
  ASSERT_TRUE(bob);
  double date = 0;
  ASSERT_TRUE(client::ParseDate("2025-12-09", date));
  ASSERT_TRUE(
      bob->SendFrame(Request(wire::code::kRequest, wire::subcode::kDays, [date](uint8_t* p) {
        wire::SetDoubleAt(p, wire::request::kDateOffset, date);
        wire::StoreField<uint16_t>(p + wire::request::kDaysOffset, 1);
      })));
  std::optional<Bytes> days;
  for (int i = 0; i < 20 && !days; ++i) {
    auto frame = Next(*bob);
    if (!frame) break;
    if (wire::Int32At(frame->data(), 4) == wire::subcode::kDaysReply) days = frame;
  }
  ASSERT_TRUE(days);
  const std::string cp1251 = "\xCF\xEB\xE0\xED\xB8\xF0\xEA\xE0 \xE2 10";
  const std::string raw(days->begin(), days->end());
  EXPECT_NE(raw.find(cp1251), std::string::npos);
  bob.reset();
  // And read prints it readable.
  ASSERT_EQ(Run("127.0.0.3", {"read", "2025-12-09"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("2025-12-09  " + russian + "\n"), std::string::npos) << out_.str();

  // 400 characters: refused, nothing changed. 255 two-byte UTF-8 letters fit (255 bytes there).
  EXPECT_EQ(Run("127.0.0.2", {"set-title", "2025-12-09", std::string(400, 'x')}), 1);
  EXPECT_NE(err_.str().find("the title is too long: 400 characters, the field holds 255"),
            std::string::npos)
      << err_.str();
  std::string letters;
  for (int i = 0; i < 255; ++i) letters += "ж";
  EXPECT_EQ(Run("127.0.0.2", {"set-title", "2025-12-10", letters}), 0) << err_.str();
  EXPECT_EQ(Run("127.0.0.2", {"set-title", "2025-12-09", "雪"}), 1);  // no CP1251 form
  EXPECT_NE(err_.str().find("cannot be written in CP1251"), std::string::npos) << err_.str();
  ASSERT_EQ(Run("127.0.0.3", {"read", "2025-12-09"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("2025-12-09  " + russian + "\n"), std::string::npos) << out_.str();
}

TEST_F(CliE2E, MailToUnknownNamesFailsAndUnsafeNamesAreNotSaved) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  const std::string body = dir_.Path() + "/report.txt";
  test::WriteFile(body, "numbers");
  EXPECT_EQ(Run("127.0.0.2", {"mail", "bob,Nobody", body}), 3);
  EXPECT_NE(err_.str().find("no user named Nobody on the server; nothing was sent"),
            std::string::npos)
      << err_.str();
  // A message whose file name would leave the directory is not saved; the others are, a name
  // already taken gets a number.
  auto alice = Login("alice");
  ASSERT_TRUE(alice);
  for (const char* name : {"../escape.txt", "..", "report.txt"}) {
    Bytes mail(wire::mail::kHeaderSize, 0);
    wire::SetInt32At(mail.data(), 0, wire::code::kMail);
    SetText(mail.data(), wire::mail::kAddress, "bob");
    SetText(mail.data(), wire::mail::kSender, "alice");
    SetText(mail.data(), wire::ShortStringField{544, 255}, name);
    mail.insert(mail.end(), {'o', 'k'});
    ASSERT_TRUE(alice->SendFrame(mail));
  }
  alice.reset();
  const std::string inbox = dir_.Path() + "/inbox";
  std::filesystem::create_directory(inbox);
  test::WriteFile(inbox + "/report.txt", "older");
  for (int attempt = 0; attempt < 50; ++attempt) {  // until the three are stored
    std::this_thread::sleep_for(50ms);
    if (std::filesystem::exists(Pop3("127.0.0.3.bin")) &&
        std::filesystem::file_size(Pop3("127.0.0.3.bin")) >= 3 * 249) {
      break;
    }
  }
  EXPECT_EQ(Run("127.0.0.3", {"fetch-mail", inbox}), 3) << out_.str();
  EXPECT_NE(err_.str().find("not saved: its file name \"../escape.txt\" holds a /"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("not saved: its file name \"..\" holds .."), std::string::npos)
      << err_.str();
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "/escape.txt"));
  std::ifstream kept(inbox + "/report.txt.1", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "ok");
  std::ifstream older(inbox + "/report.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(older), {}), "older");
}

}  // namespace
}  // namespace qv::e2e
