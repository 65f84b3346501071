// Blocking sends on a real connection: their results, and the file send's layout.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "net/blocking_send.h"
#include "platform/blocking_socket.h"
#include "platform/poll_loop.h"
#include "platform/socket.h"
#include "support/test_server.h"

namespace qv::service {
namespace {

using namespace std::chrono_literals;
using test::RunUntil;

class BlockingSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listener_.Listen("127.0.0.1", 0));
    listener_.SetReceiveBuffer(16384);
    socket_->SetAddress("127.0.0.1");
    socket_->SetPort(listener_.LocalPort());
    socket_->Open();
    ASSERT_TRUE(RunUntil(
        loop_, [&] { return socket_->Connected(); }, 5s));
    ASSERT_TRUE(listener_.Accept(peer_, 5s));
  }

  std::vector<uint8_t> ReadAll(size_t n) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    while (bytes.size() < n) {
      const long got = peer_.ReceiveSome(buffer, sizeof buffer, 5s);
      if (got <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

  platform::PollLoop loop_;
  platform::BlockingSocket listener_, peer_;
  std::shared_ptr<platform::TcpClient> socket_ = std::make_shared<platform::TcpClient>(loop_);
  Timeouts timeouts_;
};

TEST_F(BlockingSendTest, ResultsForSentTimedOutAndDisconnected) {
  std::vector<uint8_t> data(10000, 0x5A);
  EXPECT_EQ(BlockingBufferSend(*socket_, data.data(), 10000, {timeouts_, {}, {}}), 10000);
  EXPECT_EQ(ReadAll(10000), data);

  // A peer that reads nothing: no progress for the (shortened) number of attempts.
  timeouts_.sendIdleLimit = 5;
  timeouts_.sendIdleLimitAsk = 5;
  std::vector<uint8_t> large(32 << 20, 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(BlockingBufferSend(*socket_, large.data(), static_cast<int>(large.size()),
                               {timeouts_, {}, {}}),
            kSendTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

  // Asked at the limit and answered "no": the send gives up.
  int asked = 0;
  EXPECT_EQ(BlockingBufferSend(*socket_, large.data(), static_cast<int>(large.size()),
                               {timeouts_, [&] { return ++asked > 1 ? false : true; }, {}}),
            kSendException);
  EXPECT_EQ(asked, 2);

  // A stopped worker sends nothing more.
  auto fresh = std::make_shared<platform::TcpClient>(loop_);
  EXPECT_EQ(BlockingBufferSend(*fresh, data.data(), 10, {timeouts_, {}, {}}), kSendDisconnected);
  EXPECT_EQ(BlockingBufferSend(*socket_, data.data(), 10, {timeouts_, {}, [] { return true; }}),
            kSendException);
}

TEST_F(BlockingSendTest, FileSendSendsTheSizeThenTheBytes) {
  test::TempDir dir;
  for (const size_t size : {size_t{65536}, size_t{65537}}) {
    const std::string path = dir.Path() + "/f" + std::to_string(size);
    std::vector<uint8_t> content(size);
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<uint8_t>(i % 251);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(size));
    std::string error = "stale";
    std::vector<int> progress;
    FileSend(*socket_, path, error, {timeouts_, {}, {}}, [&](int p) { progress.push_back(p); });
    EXPECT_EQ(error, "");
    EXPECT_EQ(progress.size(), size == 65536 ? 1u : 2u);
    EXPECT_EQ(progress.back(), 100);
    const auto bytes = ReadAll(size + 4);
    ASSERT_EQ(bytes.size(), size + 4);
    int32_t word = 0;
    std::memcpy(&word, bytes.data(), 4);
    EXPECT_EQ(word, static_cast<int32_t>(size));
    EXPECT_TRUE(std::equal(content.begin(), content.end(), bytes.begin() + 4));
  }
  std::string error;
  EXPECT_THROW(FileSend(*socket_, dir.Path() + "/missing", error, {timeouts_, {}, {}}),
               std::exception);
}

}  // namespace
}  // namespace qv::service
