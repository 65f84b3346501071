// quorvane-client: the command-line client (see --help). Ctrl+C ends `watch`.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "client/cli.h"

int main(int argc, char** argv) {
  std::atomic<bool> stop{false};
  // SIGINT and SIGTERM are taken by a thread of their own, which asks `watch` to end.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0) {
    std::thread([&stop, signals] {
      int received = 0;
      if (sigwait(&signals, &received) == 0) stop = true;
    }).detach();
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::client::RunClientCli(args, std::cout, std::cerr, &stop);
}
