// Holds a TCP port while the end-to-end tests run, as a server installed on the machine would:
//   hold_port start PORT PIDFILE   listens on PORT in a background process (for at most an hour)
//   hold_port stop PIDFILE         ends that process
// When the port is already taken, start succeeds without holding it: somebody else holds it.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr unsigned kMaxHoldSeconds = 3600;

int Listen(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 8) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Detaches from the test runner's output pipes, so that it does not wait for this process.
bool Detach() {
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0) return false;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::dup2(null, fd) < 0) return false;
  }
  if (null > 2) ::close(null);
  return ::setsid() >= 0;
}

int Start(int port, const std::string& pidFile) {
  const int fd = Listen(port);
  if (fd < 0) {
    std::printf("port %d not held here: %s\n", port, std::strerror(errno));
    return errno == EADDRINUSE ? 0 : 1;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    if (!Detach()) _exit(1);
    ::sleep(kMaxHoldSeconds);  // ended by stop long before
    _exit(0);
  }
  ::close(fd);
  std::ofstream(pidFile) << child << "\n";
  std::printf("port %d held by process %d\n", port, static_cast<int>(child));
  return 0;
}

int Stop(const std::string& pidFile) {
  std::ifstream in(pidFile);
  long pid = 0;
  if (!(in >> pid) || pid <= 1) return 0;  // nothing was held
  // Only the holder this file names, and only while it still is one.
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (std::getline(comm, name) && name == "hold_port" &&
      ::kill(static_cast<pid_t>(pid), SIGTERM) != 0) {
    std::perror("kill");
    return 1;
  }
  std::remove(pidFile.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "start") == 0) return Start(std::atoi(argv[2]), argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "stop") == 0) return Stop(argv[2]);
  std::fprintf(stderr, "usage: hold_port start PORT PIDFILE | hold_port stop PIDFILE\n");
  return 2;
}
