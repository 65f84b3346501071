// The HTTP and WebSocket listener in-process, over real loopback sockets, with a fake member
// API: routes, who may do what, the Origin rule and the bounds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "feed/feed_server.h"
#include "support/http_get.h"
#include "support/test_server.h"
#include "wire/packages.h"

namespace qv::feed {
namespace {

using namespace std::chrono_literals;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Json = nlohmann::json;

// Records what the pages ask of it; every edit is journalled and durable at once.
class FakeMemberApi final : public service::MemberApi {
 public:
  bool ReadDays(service::MemberRef, double date, int32_t days, std::vector<wire::DayRecord>& out,
                std::string&) override {
    out.assign(static_cast<size_t>(days), wire::DayRecord{});
    for (int32_t i = 0; i < days; ++i) wire::SetDayDate(out[static_cast<size_t>(i)], date + i);
    return true;
  }
  service::ChangeOutcome Apply(service::MemberRef member, const wire::RequestPackage& request,
                               int32_t, service::MemberSink* origin) override {
    std::lock_guard lock(mutex);
    applied.push_back(request);
    lastMember = member;
    lastOrigin = origin;
    service::ChangeOutcome outcome;
    const bool refuse = wire::ReadShortString(request.data(), wire::request::kText) == "no";
    outcome.status = refuse ? service::ChangeStatus::Refused : service::ChangeStatus::Journalled;
    outcome.ticket = 9;
    outcome.reason = "the day may not be created";
    return outcome;
  }
  void WhenDurable(uint64_t, std::function<void()> done) override { done(); }
  void SetMark(service::MemberRef, const wire::RequestPackage&, service::MemberSink*) override {}
  state::SharedBytes StatusTable() const override {
    auto table = std::make_shared<std::vector<uint8_t>>(4 + 86, 0);
    wire::SetInt32At(table->data(), 0, 5000);
    wire::SetInt32At(table->data(), 4, 1);
    wire::WriteShortString(table->data() + 4, wire::status_slot::kUserName, "alice");
    wire::WriteShortString(table->data() + 4, wire::status_slot::kHostName, "127.0.0.2");
    return table;
  }
  void Attach(int32_t group, service::MemberSink& sink) override {
    std::lock_guard lock(mutex);
    sinks.push_back(&sink);
    attachedGroup = group;
  }
  void Detach(service::MemberSink& sink) override {
    std::lock_guard lock(mutex);
    std::erase(sinks, &sink);
  }

  std::mutex mutex;
  std::vector<wire::RequestPackage> applied;
  std::vector<service::MemberSink*> sinks;
  service::MemberRef lastMember;
  service::MemberSink* lastOrigin = nullptr;
  int32_t attachedGroup = -1;
};

// A WebSocket client from a chosen local address; every operation is bounded by `limit`.
class PageClient {
 public:
  PageClient(const std::string& local, int port, const std::string& origin,
             std::chrono::milliseconds limit = 5s)
      : ws_(io_), limit_(limit) {
    tcp::socket& s = ws_.next_layer();
    s.open(tcp::v4());
    s.bind(tcp::endpoint(asio::ip::make_address(local), 0));
    s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<uint16_t>(port)));
    ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
      if (!origin.empty()) req.set(beast::http::field::origin, origin);
    }));
    const std::string host = "127.0.0.1:" + std::to_string(port);
    ws_.async_handshake(response_, host, "/ws", [this](beast::error_code ec) { error_ = ec; });
    Run();
  }
  bool Open() const { return !error_ && ws_.is_open(); }
  unsigned Status() const { return response_.result_int(); }

  void Send(const std::string& text) {
    ws_.async_write(asio::buffer(text), [this](beast::error_code ec, size_t) { error_ = ec; });
    Run();
  }
  // The next message, or nothing once the connection is closed or the limit passed.
  std::optional<Json> Next() {
    beast::flat_buffer buffer;
    bool done = false;
    ws_.async_read(buffer, [&](beast::error_code ec, size_t) {
      error_ = ec;
      done = true;
    });
    Run();
    if (!done) {
      beast::get_lowest_layer(ws_).cancel();
      Run();
      return std::nullopt;
    }
    if (error_) return std::nullopt;
    return Json::parse(beast::buffers_to_string(buffer.data()));
  }
  // The next message of this type, others passed over.
  std::optional<Json> NextOf(const std::string& type) {
    for (int i = 0; i < 50; ++i) {
      auto m = Next();
      if (!m || (*m)["type"] == type) return m;
    }
    return std::nullopt;
  }
  beast::error_code Error() const { return error_; }

 private:
  void Run() {
    io_.restart();
    io_.run_for(limit_);
  }
  asio::io_context io_;
  websocket::stream<tcp::socket> ws_;
  websocket::response_type response_;
  beast::error_code error_;
  std::chrono::milliseconds limit_;
};

// A raw connection from a chosen local address: what the server sends, and whether it closes.
struct RawConnection {
  explicit RawConnection(const std::string& local, int port) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, local.c_str(), &a.sin_addr);
    ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    sockaddr_in r{};
    r.sin_family = AF_INET;
    r.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &r.sin_addr);
    ok = ok && ::connect(fd, reinterpret_cast<sockaddr*>(&r), sizeof r) == 0;
  }
  ~RawConnection() { ::close(fd); }
  // Everything until the server closes; nothing when it is still open after the receive limit.
  std::optional<std::string> UntilClosed() {
    std::string all;
    char buffer[4096];
    for (int i = 0; i < 1000; ++i) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n == 0) return all;
      if (n < 0) return errno == ECONNRESET ? std::optional(all) : std::nullopt;
      all.append(buffer, static_cast<size_t>(n));
    }
    return std::nullopt;
  }
  int fd = -1;
  bool ok = false;
};

class WebServer : public ::testing::Test {
 protected:
  void Start(const std::string& feedExtra = "", service::MemberApi* api = nullptr) {
    test::IniConfig config;
    config.port = test::FreePortPair();
    config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob"}};
    engine_ = std::make_unique<test::InProcessServer>(config);
    feedPort_ = test::FreePortPair();
    test::WriteFile(engine_->Dir() + "/Server.ini",
                    test::IniText(config) + "[Feed]\r\nPort=" + std::to_string(feedPort_) +
                        "\r\nAllow=127.0.0.9\r\n" + feedExtra);
    engine_->Start();
    FeedTuning tuning;
    tuning.idle = 300ms;
    tuning.lowPriority = false;
    feed_ = std::make_unique<FeedServer>(engine_->server(), api, tuning);
    feed_->Start();
    ASSERT_TRUE(feed_->Listening()) << Log();
  }
  void TearDown() override {
    if (feed_) feed_->Stop();
    if (engine_) engine_->Stop();
  }
  std::string Log() {
    std::string all;
    for (const auto& line : engine_->Log().Lines()) all += line + "\n";
    return all;
  }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(feedPort_); }
  std::optional<test::HttpResponse> Get(const std::string& from, const std::string& path) {
    return test::HttpGet(from, feedPort_, path);
  }

  FakeMemberApi api_;  // outlives the server and the listener, which hold it
  std::unique_ptr<test::InProcessServer> engine_;
  std::unique_ptr<FeedServer> feed_;
  int feedPort_ = 0;
};

TEST_F(WebServer, RoutesByWhoThePeerIs) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const auto status = Get("127.0.0.1", "/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
  EXPECT_NE(status->body.find("alice"), std::string::npos);
  EXPECT_EQ(status->Header("x-content-type-options"), "nosniff");
  // "/" is the status page for a reader and the web page for a member.
  const auto readerRoot = Get("127.0.0.9", "/");
  ASSERT_TRUE(readerRoot);
  EXPECT_EQ(readerRoot->status, 200);
  EXPECT_EQ(readerRoot->body.find("<script"), std::string::npos);
  const auto memberRoot = Get("127.0.0.2", "/");
  ASSERT_TRUE(memberRoot);
  EXPECT_EQ(memberRoot->status, 200);
  EXPECT_NE(memberRoot->body.find("/app/page.js"), std::string::npos);
  const auto script = Get("127.0.0.3", "/app/page.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->Header("content-type"), "text/javascript; charset=utf-8");
  EXPECT_NE(script->body.find("WebSocket"), std::string::npos);
  EXPECT_EQ(Get("127.0.0.1", "/app/page.js")->status, 404);  // the page is for members
  const auto missing = Get("127.0.0.2", "/nothing/here");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(missing->Header("x-content-type-options"), "nosniff");
  EXPECT_EQ(Get("127.0.0.1", "/metrics")->status, 200);
  EXPECT_EQ(Get("127.0.0.1", "/groups/Group%201.ics")->status, 200);
  EXPECT_EQ(Get("127.0.0.1", "/groups/Nobody.ics")->status, 404);

  // A stranger gets its 403 at once, before it has sent anything.
  RawConnection stranger("127.0.0.20", feedPort_);
  ASSERT_TRUE(stranger.ok);
  const auto refusal = stranger.UntilClosed();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << *refusal;
  EXPECT_TRUE(engine_->Log().WaitFor("Feed: request refused (403): 127.0.0.20", 2s)) << Log();
}

TEST_F(WebServer, AForwardedAddressIsBelievedOnlyFromTheProxy) {
  ASSERT_NO_FATAL_FAILURE(Start("Proxy=127.0.0.5\r\n"));
  auto get = [&](const std::string& from, const std::string& forwarded) {
    return test::HttpGet(from, feedPort_, "/", {{"X-Forwarded-For", forwarded}});
  };
  const auto member = get("127.0.0.5", "10.9.9.9, 127.0.0.2");  // the last hop counts
  ASSERT_TRUE(member);
  EXPECT_EQ(member->status, 200);
  EXPECT_NE(member->body.find("/app/page.js"), std::string::npos);
  const auto stranger = get("127.0.0.5", "127.0.0.20");
  ASSERT_TRUE(stranger);
  EXPECT_EQ(stranger->status, 403);
  const auto proxyItself = test::HttpGet("127.0.0.5", feedPort_, "/");
  ASSERT_TRUE(proxyItself);
  EXPECT_EQ(proxyItself->status, 403);  // neither member nor allowed
  const auto untrusted = get("127.0.0.6", "127.0.0.2");
  ASSERT_TRUE(untrusted);
  EXPECT_EQ(untrusted->status, 403);
}

TEST_F(WebServer, IdleConnectionsAreClosed) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const auto began = std::chrono::steady_clock::now();
  RawConnection idle("127.0.0.1", feedPort_);
  ASSERT_TRUE(idle.ok);
  const auto rest = idle.UntilClosed();
  ASSERT_TRUE(rest);  // closed by the server within the receive limit
  EXPECT_TRUE(rest->empty());
  EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);
  // Meanwhile and afterwards a request is served.
  EXPECT_EQ(Get("127.0.0.1", "/metrics")->status, 200);
}

TEST_F(WebServer, UpgradesOnlyForMembersFromTheirOwnOrigin) {
  FakeMemberApi& api = api_;
  ASSERT_NO_FATAL_FAILURE(Start("", &api));
  EXPECT_EQ(PageClient("127.0.0.2", feedPort_, "http://evil.example").Status(), 403u);
  EXPECT_EQ(PageClient("127.0.0.2", feedPort_, "").Status(), 403u);
  EXPECT_EQ(PageClient("127.0.0.9", feedPort_, Origin()).Status(), 403u);  // reader
  PageClient page("127.0.0.2", feedPort_, Origin());
  ASSERT_TRUE(page.Open()) << page.Error().message() << " " << page.Status();
  const auto hello = page.NextOf("hello");
  ASSERT_TRUE(hello);
  EXPECT_EQ((*hello)["user"], "alice");
  EXPECT_EQ((*hello)["group"], "Group 1");
  EXPECT_EQ((*hello)["editing"], true);
  const auto online = page.NextOf("online");
  ASSERT_TRUE(online);
  EXPECT_EQ((*online)["users"][0]["name"], "alice");
}

TEST_F(WebServer, EditsGoThroughTheMemberApiAndChangesComeBackLive) {
  FakeMemberApi& api = api_;
  ASSERT_NO_FATAL_FAILURE(Start("", &api));
  PageClient page("127.0.0.3", feedPort_, Origin());
  ASSERT_TRUE(page.Open());
  ASSERT_TRUE(page.NextOf("online"));  // attached by now
  page.Send(R"({"op":"week","from":"2026-12-07"})");
  const auto week = page.NextOf("week");
  ASSERT_TRUE(week);
  ASSERT_EQ((*week)["days"].size(), 7u);
  EXPECT_EQ((*week)["days"][2]["date"], "2026-12-09");

  page.Send(R"({"op":"title","id":4,"date":"2026-12-09","text":"Café"})");
  const auto ack = page.NextOf("ack");
  ASSERT_TRUE(ack);
  EXPECT_EQ((*ack)["id"], 4);
  page.Send(R"({"op":"slot","id":5,"date":"2026-12-09","slot":2,"time":"10.00","text":"no"})");
  const auto refused = page.NextOf("refused");
  ASSERT_TRUE(refused);
  EXPECT_EQ((*refused)["id"], 5);
  EXPECT_EQ((*refused)["reason"], "the day may not be created");
  {
    std::lock_guard lock(api.mutex);
    ASSERT_EQ(api.applied.size(), 2u);
    EXPECT_EQ(wire::ReadShortString(api.applied[0].data(), wire::request::kText),
              "Caf\xE9");  // Windows-1252
    EXPECT_EQ(api.lastMember.group, 0);
    EXPECT_EQ(api.lastMember.user, 1);  // bob
    ASSERT_EQ(api.sinks.size(), 1u);
    EXPECT_EQ(api.lastOrigin, api.sinks[0]);
  }
  // A change by someone else reaches the page as JSON.
  engine_->OnLoop([&] {
    std::lock_guard lock(api.mutex);
    auto package = std::make_shared<std::vector<uint8_t>>(2351, 0);
    wire::SetCodes(package->data(), 2, 0);
    wire::SetDoubleAt(package->data(), wire::request::kDateOffset, 46365.0);
    wire::WriteShortString(package->data(), wire::request::kText, "From the office");
    api.sinks[0]->Receive(package);
    return 0;
  });
  const auto change = page.NextOf("title");
  ASSERT_TRUE(change);
  EXPECT_EQ((*change)["text"], "From the office");
}

TEST_F(WebServer, BoundsOnPagesAndMessages) {
  FakeMemberApi& api = api_;
  ASSERT_NO_FATAL_FAILURE(Start("MaxClients=2\r\n", &api));
  PageClient first("127.0.0.2", feedPort_, Origin());
  PageClient second("127.0.0.3", feedPort_, Origin());
  ASSERT_TRUE(first.Open());
  ASSERT_TRUE(second.Open());
  EXPECT_EQ(PageClient("127.0.0.2", feedPort_, Origin()).Status(), 503u);

  // Malformed JSON closes that page, with one log line.
  first.Send("{not json");
  EXPECT_FALSE(first.NextOf("never"));
  EXPECT_TRUE(engine_->Log().WaitFor("malformed message", 2s)) << Log();
  EXPECT_EQ(engine_->Log().Count("malformed message"), 1);
  // A message over 64 KiB closes its page too.
  second.Send(R"({"op":"title","date":"2026-12-09","text":")" + std::string(70000, 'x') + "\"}");
  EXPECT_FALSE(second.NextOf("never"));
  EXPECT_TRUE(engine_->Log().WaitFor("message larger than 65536 bytes", 2s)) << Log();
  // Both slots are free again.
  for (int i = 0; i < 100 && feed_->OpenPages() > 0; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(feed_->OpenPages(), 0);
  PageClient third("127.0.0.2", feedPort_, Origin());
  EXPECT_TRUE(third.Open());
  EXPECT_TRUE(api.applied.empty());
}

TEST_F(WebServer, WithoutMemberApiTheWeekComesFromTheDatafileAndEditingIsOff) {
  ASSERT_NO_FATAL_FAILURE(Start());
  PageClient page("127.0.0.2", feedPort_, Origin());
  ASSERT_TRUE(page.Open());
  const auto hello = page.NextOf("hello");
  ASSERT_TRUE(hello);
  EXPECT_EQ((*hello)["editing"], false);
  page.Send(R"({"op":"week","from":"2026-12-07"})");
  const auto week = page.NextOf("week");
  ASSERT_TRUE(week);
  ASSERT_EQ((*week)["days"].size(), 7u);
  EXPECT_EQ((*week)["days"][0]["slots"][0]["time"], " 9.00");  // the group's grid
  page.Send(R"({"op":"title","id":1,"date":"2026-12-09","text":"x"})");
  const auto refused = page.NextOf("refused");
  ASSERT_TRUE(refused);
  EXPECT_EQ((*refused)["reason"], "editing is off on this server");
}

}  // namespace
}  // namespace qv::feed
