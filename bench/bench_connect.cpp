// Connection figures: sessions of 200 clients on 200 loopback addresses connecting at once
// (time until each has its status table), the daemon's resident memory with those sessions
// idle, and the latency from a client's frame to its hand-over to the request handler.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "client/client.h"
#include "e2e/daemon.h"
#include "support/test_server.h"

using namespace qv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

long ResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int ConnectMany(int users) {
  test::IniConfig config;
  config.checkIntervalMs = 0;
  config.groups = {{}};
  for (int i = 0; i < users; ++i) {
    config.groups[0].push_back("127.0.0." + std::to_string(2 + i) + "::user" + std::to_string(i));
  }
  test::Daemon daemon(config);
  if (!daemon.Start()) {
    std::fprintf(stderr, "daemon did not start:\n%s\n", daemon.Output().c_str());
    return 1;
  }
  const long idleKb = ResidentKb(daemon.Pid());
  std::vector<std::unique_ptr<client::Client>> clients;
  for (int i = 0; i < users; ++i) {
    clients.push_back(std::make_unique<client::Client>(client::ClientOptions{
        "127.0.0." + std::to_string(2 + i), "127.0.0.1", daemon.Port(), true, 0}));
  }
  constexpr int kThreads = 8;
  std::atomic<int> ready{0}, failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < users; i += kThreads) failed += clients[i]->Connect(10s) ? 0 : 1;
      for (int i = t; i < users; i += kThreads) {
        if (clients[i]->AcceptServer(120s) && clients[i]->ReceiveFrameWithCode(5000, 10s)) {
          ++ready;
        } else {
          ++failed;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(1s);
  const long busyKb = ResidentKb(daemon.Pid());
  std::printf(
      "%d clients connecting at once: %d sessions up with their status table in %.2f s "
      "(%d failed)\n",
      users, ready.load(), seconds, failed.load());
  std::printf("daemon resident memory: %ld kB before, %ld kB with %d idle sessions\n", idleKb,
              busyKb, ready.load());
  return failed == 0 ? 0 : 1;
}

int Latency(int frames) {
  test::IniConfig config;
  config.groups = {{"127.0.0.2::alice"}};
  test::InProcessServer server(config);
  std::mutex mutex;
  std::condition_variable arrived;
  Clock::time_point handedOver;
  int count = 0;
  server.server().runtime.handlers.DataRequest = [&](state::TMyNameUser&, const std::string&,
                                                     uint8_t*, int32_t) {
    std::lock_guard lock(mutex);
    handedOver = Clock::now();
    ++count;
    arrived.notify_all();
  };
  server.Start();
  client::Client alice({"127.0.0.2", "127.0.0.1", server.Port(), true, 0});
  if (!alice.Login()) {
    std::fprintf(stderr, "login failed: %s\n", alice.Error().c_str());
    return 1;
  }
  client::Bytes request(2351, 0);
  request[0] = 2;
  const client::Bytes frame = client::Frame(request);
  std::vector<double> micros;
  for (int i = 0; i < frames; ++i) {
    const auto sent = Clock::now();
    alice.SendRaw(frame);
    std::unique_lock lock(mutex);
    if (!arrived.wait_for(lock, 2s, [&] { return count == i + 1; })) {
      std::fprintf(stderr, "frame %d not handed over\n", i);
      return 1;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(handedOver - sent).count());
  }
  std::sort(micros.begin(), micros.end());
  std::printf(
      "frame (2351 bytes) to hand-over, %d frames: median %.0f us, 99%% %.0f us, "
      "max %.0f us\n",
      frames, micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int users = argc > 1 ? std::atoi(argv[1]) : 200;
  int rc = ConnectMany(std::clamp(users, 1, 250));
  rc |= Latency(1000);
  return rc;
}
