// The client library's receive path against a scripted server on loopback: frames split at any
// point, large frames, and the end of the connection in the middle of one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "client/client.h"
#include "platform/blocking_socket.h"
#include "support/test_server.h"

namespace qv::client {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ClientReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int port = test::FreePortPair();
    ASSERT_TRUE(serverListener_.Listen("127.0.0.1", port));
    ClientOptions options;
    options.port = port;
    client_ = std::make_unique<Client>(options);
    ASSERT_TRUE(client_->Connect(5s)) << client_->Error();
    ASSERT_TRUE(serverListener_.Accept(requests_, 5s));
    ASSERT_TRUE(toClient_.Connect("127.0.0.1", "127.0.0.1", port + 10, 5s));
    ASSERT_TRUE(client_->AcceptServer(5s)) << client_->Error();
  }

  void Send(const Bytes& bytes, size_t from, size_t to) {
    ASSERT_TRUE(toClient_.SendAll(bytes.data() + from, to - from));
  }

  static Bytes Payload(size_t size, uint8_t seed) {
    Bytes payload(size);
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>((i * 7 + seed) % 253);
    return payload;
  }

  platform::BlockingSocket serverListener_, requests_, toClient_;
  std::unique_ptr<Client> client_;
};

TEST_F(ClientReceiveTest, LargeAndSmallFramesArriveWholeHoweverTheyAreSplit) {
  const Bytes large = Payload(400000, 1);
  const Bytes small = Payload(8, 2);
  const Bytes framedLarge = Frame(large);
  const Bytes framedSmall = Frame(small);
  std::thread server([&] {
    // The length word split in two, the payload in uneven parts with pauses, and a small frame
    // right behind the large one in the same send.
    Send(framedLarge, 0, 2);
    std::this_thread::sleep_for(20ms);
    Send(framedLarge, 2, 70000);
    std::this_thread::sleep_for(20ms);
    Bytes tail(framedLarge.begin() + 70000, framedLarge.end());
    tail.insert(tail.end(), framedSmall.begin(), framedSmall.end());
    Send(tail, 0, tail.size());
    // A small frame alone: the wait for it must not still ask for a large frame's worth.
    std::this_thread::sleep_for(50ms);
    Send(framedSmall, 0, framedSmall.size());
    Send(Frame({}), 0, 4);  // a keep-alive
  });
  auto first = client_->ReceiveFrame(5s);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, large);
  auto second = client_->ReceiveFrame(5s);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(*second, small);
  const auto start = Clock::now();
  auto third = client_->ReceiveFrame(5s);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(*third, small);
  EXPECT_LT(Clock::now() - start, 2s);
  auto keepAlive = client_->ReceiveFrame(5s);
  ASSERT_TRUE(keepAlive.has_value());
  EXPECT_TRUE(keepAlive->empty());
  server.join();

  // Many frames after one another, each taken in order.
  std::thread burst([&] {
    Bytes all;
    for (int i = 0; i < 50; ++i) {
      const Bytes f = Frame(Payload(static_cast<size_t>(i) * 1000 + 1, static_cast<uint8_t>(i)));
      all.insert(all.end(), f.begin(), f.end());
    }
    Send(all, 0, all.size());
  });
  for (int i = 0; i < 50; ++i) {
    auto frame = client_->ReceiveFrame(5s);
    ASSERT_TRUE(frame.has_value()) << i;
    EXPECT_EQ(*frame, Payload(static_cast<size_t>(i) * 1000 + 1, static_cast<uint8_t>(i))) << i;
  }
  burst.join();
}

TEST_F(ClientReceiveTest, AServerThatClosesInTheMiddleOfALargeFrameEndsTheWaitAtOnce) {
  const Bytes framed = Frame(Payload(400000, 3));
  Send(framed, 0, 100000);
  toClient_.Close();
  const auto start = Clock::now();
  EXPECT_FALSE(client_->ReceiveFrame(5s).has_value());
  EXPECT_TRUE(client_->ServerClosed());
  EXPECT_LT(Clock::now() - start, 2s);
}

}  // namespace
}  // namespace qv::client
