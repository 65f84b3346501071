// quorvane-serverd: the server without a window. Log lines go to standard output; SIGINT and
// SIGTERM close it as closing the main window would.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "core/console_front_end.h"
#include "core/process_entry.h"
#include "feed/feed_server.h"
#include "platform/poll_loop.h"
#include "platform/signals.h"
#include "platform/single_instance.h"

int main() {
  try {
    const int signalFd = qv::platform::OpenTerminationSignals();
    qv::platform::SingleInstance instance(qv::platform::ServerInstanceName());
    if (!instance.Acquired()) {
      std::fputs("Program is already running.\n", stderr);
      return 1;
    }
    qv::platform::PollLoop loop;
    qv::ConsoleFrontEnd front;
    qv::ServerProcess process(qv::platform::ExecutableDirectory(), loop, front);
    loop.Watch(signalFd, qv::platform::EventLoop::kReadable, [&](uint32_t) {
      if (qv::platform::ReadSignal(signalFd) != 0) loop.Quit();
    });
    process.Start();
    qv::feed::FeedServer feed(process.server());
    feed.Start();
    loop.Run();
    feed.Stop();
    process.Shutdown();
    ::close(signalFd);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-serverd: %s\n", e.what());
    return 2;
  }
}
