// Mail between users against the real daemon: stored mail with its notices and message files,
// delivery on request 1000/5, the notice at session start, direct messages, spooled packages.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "requests_fixture.h"

namespace qv::e2e {
namespace {

namespace fs = std::filesystem;
using client::Int32At;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class MailE2E : public RequestsE2E {
 protected:
  std::vector<std::string> MessageFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Path() + "/POP3")) {
      if (entry.path().extension() == ".mqv") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The message file name of each notice in a host's mailbox.
  std::vector<std::string> Notices(const std::string& host) {
    const std::string box = ReadAll(Pop3(host + ".bin"));
    std::vector<std::string> names;
    for (size_t at = 0; at + 249 <= box.size(); at += 249) {
      const auto* n = reinterpret_cast<const uint8_t*>(box.data() + at);
      names.emplace_back(wire::ReadShortString(n, wire::notice::kMessageFile));
    }
    return names;
  }
  bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 300 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
  }
};

TEST_F(MailE2E, StoredMailToThreeUsersIsAnnouncedDeliveredAndRemoved) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("alice");
  auto bob = Login("bob");
  auto dave = Login("dave");
  ASSERT_TRUE(alice && bob && dave);

  const Bytes package = MailPackage(0, "alice,bob,carol", "the body");
  ASSERT_TRUE(dave->SendFrame(package));
  for (client::Client* recipient : {alice.get(), bob.get()}) {
    auto waiting = Next(*recipient);
    ASSERT_TRUE(waiting);
    ASSERT_EQ(waiting->size(), 4u);
    EXPECT_EQ(Int32At(*waiting, 0), 6000);
  }
  // Each message file is written before its notice: the last notice is the end of the store.
  const char* hosts[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
  ASSERT_TRUE(WaitFor([&] { return MessageFiles().size() == 3 && !Notices(hosts[2]).empty(); }));
  const std::vector<std::string> files = MessageFiles();
  for (int i = 0; i < 3; ++i) {
    const std::vector<std::string> notices = Notices(hosts[i]);
    ASSERT_EQ(notices.size(), 1u) << hosts[i];
    EXPECT_EQ(notices[0].front(), static_cast<char>('0' + i));
    EXPECT_NE(std::find(files.begin(), files.end(), notices[0]), files.end());
    EXPECT_EQ(ReadAll(Pop3(notices[0])), std::string(package.begin(), package.end()));
  }

  // Alice collects: the count, then the message framed by its size.
  const std::string aliceFile = Notices("127.0.0.2")[0];
  ASSERT_TRUE(alice->SendFrame(Request(1000, 5)));
  auto count = Next(*alice);
  ASSERT_TRUE(count);
  ASSERT_EQ(count->size(), 8u);
  EXPECT_EQ(Int32At(*count, 0), 6001);
  EXPECT_EQ(Int32At(*count, 4), 1);
  auto message = Next(*alice);
  ASSERT_TRUE(message);
  EXPECT_EQ(*message, package);
  ASSERT_TRUE(WaitFor([&] { return Notices("127.0.0.2").empty(); }));
  EXPECT_FALSE(fs::exists(Pop3(aliceFile)));
  EXPECT_EQ(Notices("127.0.0.4").size(), 1u);

  // A second collection finds nothing.
  ASSERT_TRUE(alice->SendFrame(Request(1000, 5)));
  auto zero = Next(*alice);
  ASSERT_TRUE(zero);
  EXPECT_EQ(Int32At(*zero, 0), 6001);
  EXPECT_EQ(Int32At(*zero, 4), 0);

  // Carol was off line: her session starts with the notice of waiting mail.
  auto carol = Login("carol");
  ASSERT_TRUE(carol);
  auto waiting = Next(*carol);
  ASSERT_TRUE(waiting);
  EXPECT_EQ(Int32At(*waiting, 0), 6000);
  ASSERT_TRUE(carol->SendFrame(Request(1000, 5)));
  ASSERT_TRUE(Next(*carol));  // 6001
  auto carolsMessage = Next(*carol);
  ASSERT_TRUE(carolsMessage);
  EXPECT_EQ(*carolsMessage, package);
}

TEST_F(MailE2E, DirectMessagesAndSpooledMailToSeveralRecipients) {
  ASSERT_NO_FATAL_FAILURE(StartDaemon());
  auto alice = Login("alice");
  auto bob = Login("bob");
  auto carol = Login("carol");
  ASSERT_TRUE(alice && bob && carol);

  // Direct: bob and carol get the package itself; alice named herself in the header.
  const Bytes direct = MailPackage(11, "bob,alice,carol,dave", "now");
  ASSERT_TRUE(alice->SendFrame(direct));
  for (client::Client* recipient : {bob.get(), carol.get()}) {
    auto got = Next(*recipient);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, direct);
  }
  EXPECT_TRUE(Quiet(*alice, 200ms));
  EXPECT_TRUE(MessageFiles().empty());

  // A package too large for memory, to two recipients: each gets the whole message.
  const Bytes big = MailPackage(0, "bob,carol", std::string(700000, 'b'));
  ASSERT_TRUE(alice->SendFrame(big));
  ASSERT_TRUE(Next(*bob, 5s));
  ASSERT_TRUE(Next(*carol, 5s));
  ASSERT_TRUE(WaitFor([&] { return MessageFiles().size() == 2; }));
  for (const std::string& name : MessageFiles()) {
    EXPECT_EQ(fs::file_size(Pop3(name)), big.size()) << name;
  }
  for (const auto& entry : fs::directory_iterator(dir_.Path() + "/POP3")) {
    EXPECT_NE(entry.path().extension(), ".buf") << entry.path();
  }
  ASSERT_TRUE(bob->SendFrame(Request(1000, 5)));
  ASSERT_TRUE(Next(*bob));
  auto received = Next(*bob, 5s);
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, big);

  // Malformed: too short, and a long address list running past the end. Nothing stored.
  ASSERT_TRUE(alice->SendFrame(Bytes(big.begin(), big.begin() + 1000)));
  Bytes longList = MailPackage(0, "LONG@@ADDRESS", "");
  const uint8_t tooLong[4] = {0x10, 0, 0, 0};
  longList.insert(longList.end(), tooLong, tooLong + 4);
  longList.insert(longList.end(), {'b', 'o', 'b'});
  ASSERT_TRUE(alice->SendFrame(longList));
  EXPECT_TRUE(WaitForLog("Incorrect address of recipient"));
  EXPECT_TRUE(Quiet(*bob, 200ms));
  EXPECT_EQ(Notices("127.0.0.3").size(), 0u);
}

}  // namespace
}  // namespace qv::e2e
