// Stored and direct mail: the address-and-mail handler, mailbox files and the delivery.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "service/mail.h"
#include "service/mail_delivery.h"
#include "service/mailbox.h"
#include "service_fixture.h"
#include "state/payload_stream.h"

namespace qv::service::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> MailPackage(int32_t kind, const std::string& address,
                                 const std::string& sender, const std::string& body) {
  std::vector<uint8_t> p(wire::mail::kHeaderSize, 0);
  wire::SetInt32At(p.data(), 0, 4000);
  wire::SetInt32At(p.data(), 4, kind);
  wire::WriteShortString(p.data(), wire::mail::kAddress, address);
  wire::WriteShortString(p.data(), wire::mail::kSender, sender);
  p.insert(p.end(), body.begin(), body.end());
  return p;
}

std::vector<uint8_t> LongMailPackage(const std::string& list, int32_t length,
                                     const std::string& body) {
  std::vector<uint8_t> p = MailPackage(0, "LONG@@ADDRESS", "dave", "");
  uint8_t word[4];
  wire::SetInt32At(word, 0, length);
  p.insert(p.end(), word, word + 4);
  p.insert(p.end(), list.begin(), list.end());
  p.insert(p.end(), body.begin(), body.end());
  return p;
}

class MailTest : public ServiceFixture {
 protected:
  MailTest() : handler_(server_, Recorder()) {}

  void Receive(state::TMyNameUser& sender, const std::vector<uint8_t>& package) {
    state::PayloadStream stream(package);
    handler_.Handle(sender, sender.HostName, stream, "");
  }

  std::vector<MailNotice> Notices(const std::string& host) {
    platform::File file = platform::File::Open(Pop3(host + ".bin"), platform::OpenMode::Read);
    return ReadNotices(file);
  }

  // Names in POP3 with the extension .mqv.
  std::vector<std::string> MessageFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.File("POP3"))) {
      if (entry.path().extension() == ".mqv") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  AddressAndMailHandler handler_;
};

TEST_F(MailTest, StoredMailToThreeUsersGivesThreeNoticesAndFilesZeroOneTwo) {
  Bob().Connected = true;
  const std::vector<uint8_t> package = MailPackage(0, "alice, bob,carol", "ignored", "hello all");
  Receive(Dave(), package);

  const std::vector<std::string> files = MessageFiles();
  ASSERT_EQ(files.size(), 3u);
  const char* hosts[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
  std::vector<std::string> named;
  for (int i = 0; i < 3; ++i) {
    const std::vector<MailNotice> notices = Notices(hosts[i]);
    ASSERT_EQ(notices.size(), 1u) << hosts[i];
    const MailNotice& n = notices[0];
    EXPECT_EQ(wire::Int32At(n.data(), 0), 1);
    EXPECT_EQ(wire::Int32At(n.data(), 4), 0);
    EXPECT_EQ(wire::ReadShortString(n.data(), wire::notice::kSenderName),
              "dave");  // not the header's
    EXPECT_EQ(wire::ReadShortString(n.data(), wire::notice::kSenderHost), "127.0.0.5");
    const std::string name = NoticeMessageFile(n);
    EXPECT_EQ(name.front(), static_cast<char>('0' + i));
    EXPECT_EQ(name.substr(name.size() - 4), ".mqv");
    // position, tick % 1000 (1 to 3 digits), yymmddhhnnss, .mqv
    EXPECT_GE(name.size(), 1u + 1u + 12u + 4u);
    EXPECT_LE(name.size(), 1u + 3u + 12u + 4u);
    for (size_t c = 0; c + 4 < name.size(); ++c) EXPECT_TRUE(std::isdigit(name[c])) << name;
    for (size_t b = 121; b < 249; ++b) ASSERT_EQ(n[b], 0);
    EXPECT_EQ(dir_.Read("POP3/" + name),
              std::string(package.begin(), package.end()));  // the package as received
    named.push_back(name);
  }
  std::sort(named.begin(), named.end());
  EXPECT_EQ(named, files);

  // Only the connected recipient hears of it.
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].target, &Bob());
  EXPECT_EQ(replies_[0].scope, kScopeUser);
  ASSERT_EQ(replies_[0].data.size(), 4u);
  EXPECT_EQ(replies_[0].Code(), 6000);
}

// Names are never handed out twice: with every name of this second and the next taken, none is
// given (the store is refused) rather than one that would overwrite a stored message.
TEST_F(MailTest, AMessageFileNameIsNeverOneThatIsTaken) {
  const platform::TDateTime now = platform::Now();
  for (const platform::TDateTime second : {now, now + 1.0 / 86400}) {
    for (uint32_t tick = 0; tick < 1000; ++tick) {
      std::ofstream(Pop3(MessageFileName(7, tick, second))) << "held";
    }
  }
  try {
    const std::string name = FreeMessageFileName(server_.setup.pop3Dir, 7);
    EXPECT_FALSE(fs::exists(Pop3(name))) << name;  // the clock moved on past both seconds
  } catch (const std::runtime_error&) {
  }
  std::ifstream first(Pop3(MessageFileName(7, 0, now)));
  std::string body;
  first >> body;
  EXPECT_EQ(body, "held");
}

TEST_F(MailTest, LongAddressListAndUnknownNames) {
  // Positions count every name, also the unknown and empty ones.
  const std::string list = std::string("zed,,carol") + '\0' + "alice";
  Receive(Dave(), LongMailPackage(list, static_cast<int32_t>(list.size()), "body"));
  EXPECT_TRUE(Notices("127.0.0.2").empty());  // alice stood behind the NUL
  const std::vector<MailNotice> carol = Notices("127.0.0.4");
  ASSERT_EQ(carol.size(), 1u);
  EXPECT_EQ(NoticeMessageFile(carol[0]).front(), '2');
  EXPECT_EQ(MessageFiles().size(), 1u);
}

TEST_F(MailTest, EachUserOnceAndTheLongListNoLongerThanTheConfiguredNamesFill) {
  // 10,000 times the same name, then carol: the list is cut long before carol.
  std::string list;
  for (int i = 0; i < 10000; ++i) list += "bob,";
  list += "carol";
  Receive(Dave(), LongMailPackage(list, static_cast<int32_t>(list.size()), "body"));
  ASSERT_EQ(Notices("127.0.0.3").size(), 1u);
  EXPECT_EQ(NoticeMessageFile(Notices("127.0.0.3")[0]).front(), '0');  // its first position
  EXPECT_TRUE(Notices("127.0.0.4").empty());
  EXPECT_EQ(MessageFiles().size(), 1u);
  // alice, bob, carol and dave with a separator each: 21 bytes, cut back to the last comma.
  EXPECT_TRUE(Logged("Address list cut to 21 of 40005 bytes"));

  // A short list naming a user twice stores once for that user.
  Receive(Dave(), MailPackage(0, "alice,carol,alice", "dave", "x"));
  EXPECT_EQ(Notices("127.0.0.2").size(), 1u);
  EXPECT_EQ(Notices("127.0.0.4").size(), 1u);
}

TEST_F(MailTest, AHostWhoseMailboxIsFullGetsNothingMoreTheOthersDo) {
  server_.setup.limits.mailboxBytesPerHost = 5000;
  const std::vector<uint8_t> package = MailPackage(0, "alice,bob", "dave", std::string(1000, 'b'));
  Receive(Dave(), package);  // 2056 bytes each
  Receive(Dave(), package);  // 4112: still within
  EXPECT_EQ(Notices("127.0.0.2").size(), 2u);
  Receive(Dave(), MailPackage(0, "alice", "dave", std::string(2000, 'c')));
  EXPECT_EQ(Notices("127.0.0.2").size(), 2u);  // 4112 + 3056 would pass 5000
  EXPECT_TRUE(Logged("Mailbox of 127.0.0.2 is full (4112 bytes): mail from 127.0.0.5 not stored"));
  Receive(Dave(), MailPackage(0, "alice,carol", "dave", "small"));
  EXPECT_EQ(Notices("127.0.0.2").size(), 2u);
  EXPECT_EQ(Notices("127.0.0.4").size(), 1u);  // carol's host has room
  EXPECT_EQ(MessageFiles().size(), 5u);
}

TEST_F(MailTest, MalformedPackagesStoreNothingAndReadNothingPastTheEnd) {
  const std::vector<uint8_t> good = MailPackage(0, "alice", "dave", "x");
  std::vector<uint8_t> shortPackage(good.begin(), good.begin() + 1055);
  Receive(Dave(), shortPackage);
  Receive(Dave(), std::vector<uint8_t>(good.begin(), good.begin() + 4));
  Receive(Dave(), MailPackage(0, "", "dave", "body"));
  Receive(Dave(), LongMailPackage("alice", -1, "body"));
  Receive(Dave(), LongMailPackage("alice", 6, ""));  // one byte past the end
  Receive(Dave(), LongMailPackage("alice", 0x7FFFFFFF, "body"));
  std::vector<uint8_t> noLength = MailPackage(0, "LONG@@ADDRESS", "dave", "ab");  // 1058 bytes
  Receive(Dave(), noLength);
  EXPECT_EQ(CountLogged("Incorrect address of recipient"), 7);
  EXPECT_TRUE(Notices("127.0.0.2").empty());
  EXPECT_TRUE(MessageFiles().empty());
  EXPECT_TRUE(replies_.empty());

  // The long list exactly filling the package is fine.
  Receive(Dave(), LongMailPackage("alice", 5, ""));
  EXPECT_EQ(Notices("127.0.0.2").size(), 1u);
}

TEST_F(MailTest, DirectMessagesGoToConnectedRecipientsOtherThanTheSender) {
  Alice().Connected = true;
  Carol().Connected = true;
  Dave().Connected = true;
  for (const int32_t kind : {10, 11}) {
    replies_.clear();
    const std::vector<uint8_t> package =
        MailPackage(kind, "alice,bob,dave,carol", "carol", std::string(3000, 'z'));
    Receive(Carol(), package);
    ASSERT_EQ(replies_.size(), 2u) << kind;  // bob is off line; carol named herself
    EXPECT_EQ(replies_[0].target, &Alice());
    EXPECT_EQ(replies_[1].target, &Dave());
    EXPECT_EQ(replies_[0].scope, kScopeUser);
    EXPECT_EQ(replies_[0].data, package);
  }
  EXPECT_TRUE(MessageFiles().empty());
  EXPECT_TRUE(Notices("127.0.0.3").empty());
}

TEST_F(MailTest, SpooledPackageWithSeveralRecipientsReachesEveryOne) {
  const std::vector<uint8_t> package =
      MailPackage(0, "alice,bob,carol", "dave", std::string(600000, 'q'));
  const std::string spoolPath = Pop3("127.0.0.512345.buf");
  dir_.Write("POP3/127.0.0.512345.buf", std::string(package.begin(), package.end()));
  std::optional<platform::File> spool =
      platform::File::Open(spoolPath, platform::OpenMode::ReadWrite);
  state::PayloadStream stream(spool);
  handler_.Handle(Dave(), "127.0.0.5", stream, spoolPath);
  EXPECT_FALSE(spool.has_value());  // taken over by the handler
  EXPECT_FALSE(fs::exists(spoolPath));
  const std::vector<std::string> files = MessageFiles();
  ASSERT_EQ(files.size(), 3u);
  for (const std::string& name : files) {
    EXPECT_EQ(fs::file_size(Pop3(name)), package.size()) << name;
    EXPECT_EQ(dir_.Read("POP3/" + name), std::string(package.begin(), package.end()));
    // One file with three names: the spool file renamed and two links, no copies.
    EXPECT_EQ(fs::hard_link_count(Pop3(name)), 3u) << name;
    EXPECT_TRUE(fs::equivalent(Pop3(name), Pop3(files[0])));
  }

  // A spooled direct message is not passed on, and its spool file does not stay.
  Alice().Connected = true;
  const std::vector<uint8_t> direct = MailPackage(10, "alice", "dave", "d");
  dir_.Write("POP3/127.0.0.56.buf", std::string(direct.begin(), direct.end()));
  std::optional<platform::File> second =
      platform::File::Open(Pop3("127.0.0.56.buf"), platform::OpenMode::ReadWrite);
  state::PayloadStream secondStream(second);
  handler_.Handle(Dave(), "127.0.0.5", secondStream, Pop3("127.0.0.56.buf"));
  EXPECT_TRUE(replies_.empty());
  EXPECT_FALSE(fs::exists(Pop3("127.0.0.56.buf")));
}

class DeliveryTest : public MailTest {
 protected:
  // Stores messages "m0", "m1", … for alice, each from its own package.
  std::vector<std::string> StoreForAlice(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      Receive(Dave(), MailPackage(0, "alice", "dave", "m" + std::to_string(i)));
      names.push_back(NoticeMessageFile(Notices("127.0.0.2").back()));
    }
    return names;
  }
  std::string Body(const MailFile& file) {
    std::ifstream in(file.path, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(static_cast<int64_t>(all.size()), file.size);
    return all.size() >= wire::mail::kHeaderSize ? all.substr(wire::mail::kHeaderSize)
                                                 : std::string();
  }
};

TEST_F(DeliveryTest, PlanListsTheMessagesInOrderAndFinishRemovesWhatWent) {
  MailPlan empty = PlanDelivery(server_, "127.0.0.2");
  EXPECT_TRUE(empty.opened);
  EXPECT_TRUE(empty.files.empty());

  const std::vector<std::string> names = StoreForAlice(3);
  const MailPlan plan = PlanDelivery(server_, "127.0.0.2");
  ASSERT_EQ(plan.files.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(plan.files[i].path, Pop3(names[i]));
    EXPECT_EQ(Body(plan.files[i]), "m" + std::to_string(i));
    EXPECT_EQ(plan.files[i].notices, 1);
  }
  EXPECT_EQ(plan.trailingNotices, 0);

  // The first went, the second failed: the first's notice and file go, the rest stay in order.
  FinishDelivery(server_, "127.0.0.2", 1, {plan.files[0].path});
  std::vector<MailNotice> left = Notices("127.0.0.2");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(NoticeMessageFile(left[0]), names[1]);
  EXPECT_EQ(NoticeMessageFile(left[1]), names[2]);
  EXPECT_FALSE(fs::exists(Pop3(names[0])));
  EXPECT_TRUE(fs::exists(Pop3(names[1])));

  // The next plan has the two that are left; finishing it empties the mailbox.
  const MailPlan again = PlanDelivery(server_, "127.0.0.2");
  ASSERT_EQ(again.files.size(), 2u);
  FinishDelivery(server_, "127.0.0.2", 2, {again.files[0].path, again.files[1].path});
  EXPECT_TRUE(Notices("127.0.0.2").empty());
  EXPECT_TRUE(MessageFiles().empty());
}

// The mailbox's count follows stores and deliveries without reading the mailbox again, and a
// mailbox not yet counted (after a restart) is counted from its files.
TEST_F(DeliveryTest, TheMailboxCapFollowsStoresAndDeliveries) {
  const int64_t each = static_cast<int64_t>(MailPackage(0, "alice", "dave", "m0").size());
  server_.setup.limits.mailboxBytesPerHost = 3 * each;
  StoreForAlice(4);
  EXPECT_EQ(Notices("127.0.0.2").size(), 3u) << "the fourth is over the cap";
  const MailPlan plan = PlanDelivery(server_, "127.0.0.2");
  ASSERT_EQ(plan.files.size(), 3u);
  FinishDelivery(server_, "127.0.0.2", 1, {plan.files[0].path});  // one delivered, two left
  StoreForAlice(2);
  EXPECT_EQ(Notices("127.0.0.2").size(), 3u) << "room for one again";
  server_.setup.limits.mailboxBytesPerHost = 4 * each;
  server_.runtime.mailboxTally.Forget(Pop3("127.0.0.2.bin"));
  StoreForAlice(2);
  EXPECT_EQ(server_.runtime.mailboxTally.Notices(Pop3("127.0.0.2.bin")), 4);
}

// Storing into a mailbox of 12,000 notices costs what storing the first did.
TEST_F(DeliveryTest, StoringThe12000thMessageCostsWhatTheFirstDid) {
  using Clock = std::chrono::steady_clock;
  constexpr int kHeld = 12000;
  auto timeStore = [&](const std::string& to) {
    const auto start = Clock::now();
    Receive(Dave(), MailPackage(0, to, "dave", "body"));
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  };
  // The best of five, each into a mailbox holding nothing yet (bob's, then carol's, …).
  int64_t first = INT64_MAX;
  for (const char* to : {"bob", "carol", "bob", "carol", "bob"}) {
    first = std::min<int64_t>(first, timeStore(to));
    RemoveDeliveredNotices(server_, Pop3("127.0.0.3.bin"), 1);
    RemoveDeliveredNotices(server_, Pop3("127.0.0.4.bin"), 1);
  }
  {
    // Alice's mailbox already holds 11,999 messages (written directly).
    platform::File mailbox =
        platform::File::Open(Pop3("127.0.0.2.bin"), platform::OpenMode::CreateReadWrite);
    std::vector<uint8_t> notices;
    for (int i = 1; i < kHeld; ++i) {
      const std::string name = "held" + std::to_string(i) + ".mqv";
      dir_.Write("POP3/" + name, "held message");
      const MailNotice n = BuildNotice("dave", "127.0.0.5", name);
      notices.insert(notices.end(), n.begin(), n.end());
    }
    mailbox.WriteAt(0, notices.data(), notices.size());
    mailbox.Close();
  }
  server_.runtime.mailboxTally.Forget(Pop3("127.0.0.2.bin"));
  timeStore("alice");  // the 12,000th; counts the mailbox once (its first use)
  int64_t later = INT64_MAX;
  for (int i = 0; i < 5; ++i) later = std::min<int64_t>(later, timeStore("alice"));
  std::printf("storing a message: %lld us into an empty mailbox, %lld us behind %d\n",
              static_cast<long long>(first), static_cast<long long>(later), kHeld);
  EXPECT_EQ(Notices("127.0.0.2").size(), static_cast<size_t>(kHeld + 5));
  EXPECT_LE(later, 2 * first + 200) << "first " << first << " us";
}

TEST_F(DeliveryTest, NoticesNamingFilesOutsidePop3AreSkippedAndNeverTouched) {
  dir_.Write("outside.mqv", "secret");
  fs::create_directories(dir_.File("POP3/sub"));
  dir_.Write("POP3/sub/x.mqv", "nested");
  {
    platform::File mailbox =
        platform::File::Open(Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
    AppendNotice(mailbox, BuildNotice("dave", "127.0.0.5", "../outside.mqv"));
    mailbox.Close();
  }
  const std::vector<std::string> names = StoreForAlice(1);
  {
    platform::File mailbox =
        platform::File::Open(Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
    for (const char* bad : {"sub/x.mqv", "", "..", "missing.mqv"}) {
      AppendNotice(mailbox, BuildNotice("dave", "127.0.0.5", bad));
    }
    mailbox.Close();
  }
  ASSERT_EQ(Notices("127.0.0.2").size(), 6u);
  const MailPlan plan = PlanDelivery(server_, "127.0.0.2");
  ASSERT_EQ(plan.files.size(), 1u);  // only what follows is counted
  EXPECT_EQ(Body(plan.files[0]), "m0");
  EXPECT_EQ(plan.files[0].notices, 2);  // the skipped one before it goes with it
  EXPECT_EQ(plan.trailingNotices, 4);
  EXPECT_EQ(CountLogged("Mail notice skipped"), 5);
  FinishDelivery(server_, "127.0.0.2", 6, {plan.files[0].path});
  EXPECT_EQ(dir_.Read("outside.mqv"), "secret");
  EXPECT_EQ(dir_.Read("POP3/sub/x.mqv"), "nested");
  EXPECT_TRUE(Notices("127.0.0.2").empty());
}

TEST_F(DeliveryTest, RemovingDeliveredNoticesKeepsTheRestInOrder) {
  {
    platform::File mailbox =
        platform::File::Open(Pop3("127.0.0.3.bin"), platform::OpenMode::ReadWrite);
    for (int i = 0; i < 5; ++i) {
      AppendNotice(mailbox, BuildNotice("dave", "127.0.0.5", "n" + std::to_string(i)));
    }
    mailbox.WriteAt(mailbox.Size(), "torn", 4);  // a partial notice at the end is not kept
    mailbox.Close();
  }
  RemoveDeliveredNotices(server_, Pop3("127.0.0.3.bin"), 2);
  const std::vector<MailNotice> left = Notices("127.0.0.3");
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(NoticeMessageFile(left[0]), "n2");
  EXPECT_EQ(NoticeMessageFile(left[2]), "n4");
  EXPECT_EQ(platform::FileSize(Pop3("127.0.0.3.bin")), 3 * 249);
  RemoveDeliveredNotices(server_, Pop3("127.0.0.3.bin"), 3);
  EXPECT_EQ(platform::FileSize(Pop3("127.0.0.3.bin")), 0);
}

TEST_F(DeliveryTest, LockedRetryingOpenWaitsForTheHolderAndKeepsTheMailboxLockNotTheSendLock) {
  std::optional<platform::File> holder =
      platform::File::Open(Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
  const auto start = std::chrono::steady_clock::now();
  std::optional<LockedFile> none =
      LockedRetryingOpen(server_, Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
  EXPECT_FALSE(none.has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_TRUE(Logged("Error occurred while opening the file: " + Pop3("127.0.0.2.bin") + "."));

  // Released by its holder within the limit: the open succeeds and holds the mailbox lock; the
  // send lock stays free for the event thread.
  server_.setup.timeouts.retryingOpenLimitMs = 5000;
  std::thread release([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder.reset();
  });
  std::optional<LockedFile> opened =
      LockedRetryingOpen(server_, Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
  release.join();
  ASSERT_TRUE(opened.has_value());
  EXPECT_TRUE(opened->lock.owns_lock());
  bool otherGotLock = true, sendLockFree = false;
  std::thread other([&] {
    otherGotLock = server_.runtime.mailboxLock.try_lock();
    sendLockFree = server_.runtime.sendLock.try_lock();
    if (sendLockFree) server_.runtime.sendLock.unlock();
  });
  other.join();
  EXPECT_FALSE(otherGotLock);
  EXPECT_TRUE(sendLockFree);
  opened.reset();
  std::thread after([&] {
    otherGotLock = server_.runtime.mailboxLock.try_lock();
    if (otherGotLock) server_.runtime.mailboxLock.unlock();
  });
  after.join();
  EXPECT_TRUE(otherGotLock);
}

TEST_F(DeliveryTest, AStoppedDeliveryGivesUpItsRetryingOpenAtOnce) {
  std::optional<platform::File> holder =
      platform::File::Open(Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite);
  server_.setup.timeouts.retryingOpenLimitMs = 60000;
  std::atomic<bool> stop{false};
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  std::optional<LockedFile> none =
      LockedRetryingOpen(server_, Pop3("127.0.0.2.bin"), platform::OpenMode::ReadWrite,
                         [&stop] { return stop.load(); });
  stopper.join();
  EXPECT_FALSE(none.has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(Logged("Error occurred while opening the file: "));  // stopped, not failed
}

TEST_F(DeliveryTest, AMissingFileIsNotWaitedFor) {
  server_.setup.timeouts.retryingOpenLimitMs = 5000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LockedRetryingOpen(server_, Pop3("gone.bin"), platform::OpenMode::ReadWrite));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(CountLogged("Error occurred while opening the file: " + Pop3("gone.bin") + "."), 1);

  // A recipient whose mailbox is missing is skipped; the others still get the message.
  std::filesystem::remove(Pop3("127.0.0.3.bin"));
  Receive(Dave(), MailPackage(0, "bob,carol", "dave", "x"));
  EXPECT_EQ(Notices("127.0.0.4").size(), 1u);
  EXPECT_EQ(MessageFiles().size(), 1u);
  EXPECT_EQ(CountLogged("Error occurred while opening the file: " + Pop3("127.0.0.3.bin") + "."),
            1);
}

// A delivery holding a mailbox never holds up the event thread: the message file is written at
// once, its notice follows when the mailbox is free, and the connected recipient hears of it then.
TEST_F(DeliveryTest, AMailboxHeldByADeliveryDefersTheNoticeNotTheEventThread) {
  Bob().Connected = true;
  server_.setup.timeouts.retryingOpenLimitMs = 60000;
  std::optional<LockedFile> held =
      LockedRetryingOpen(server_, Pop3("127.0.0.3.bin"), platform::OpenMode::ReadWrite);
  ASSERT_TRUE(held.has_value());
  const auto start = std::chrono::steady_clock::now();
  const std::vector<uint8_t> package = MailPackage(0, "bob", "dave", "while busy");
  Receive(Dave(), package);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_EQ(MessageFiles().size(), 1u);
  EXPECT_TRUE(replies_.empty());
  held.reset();

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  loop_.AddTimer(5, true, [&] {
    if (!replies_.empty() || std::chrono::steady_clock::now() > deadline) loop_.Quit();
  });
  loop_.Run();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].target, &Bob());
  EXPECT_EQ(replies_[0].Code(), 6000);
  const std::vector<MailNotice> notices = Notices("127.0.0.3");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(NoticeMessageFile(notices[0]), MessageFiles()[0]);
  EXPECT_EQ(dir_.Read("POP3/" + MessageFiles()[0]), std::string(package.begin(), package.end()));
}

}  // namespace
}  // namespace qv::service::test
