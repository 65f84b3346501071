#pragma once
// A minimal HTTP/1.1 GET from a chosen local address (the tests' simulated hosts are 127.0.0.x),
// so that a test can be a peer the server must refuse. One request per connection; every wait
// is bounded by the socket time-outs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>

namespace qv::test {

struct HttpResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string Header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
};

// Sends a GET and hands each received piece of the response to take, until the server closes
// the connection. False when the connection or a wait fails.
template <class Take>
bool StreamHttpGet(const std::string& localAddress, int port, const std::string& path,
                   const std::map<std::string, std::string>& extra,
                   const std::string& serverAddress, int timeoutMs, Take take) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr) != 1) return false;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, serverAddress.c_str(), &remote.sin_addr) != 1) return false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) return false;
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + serverAddress + ":" +
                        std::to_string(port) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : extra) request += name + ": " + value + "\r\n";
  request += "\r\n";
  for (size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  char buffer[65536];
  for (int reads = 0; reads < 100000; ++reads) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) return false;  // time-out
    if (n == 0) return true;
    take(buffer, static_cast<size_t>(n));
  }
  return false;
}

inline std::optional<HttpResponse> HttpGet(const std::string& localAddress, int port,
                                           const std::string& path,
                                           const std::map<std::string, std::string>& extra = {},
                                           const std::string& serverAddress = "127.0.0.1",
                                           int timeoutMs = 5000) {
  std::string raw;
  if (!StreamHttpGet(localAddress, port, path, extra, serverAddress, timeoutMs,
                     [&raw](const char* data, size_t size) { raw.append(data, size); })) {
    return std::nullopt;
  }
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) return std::nullopt;
  HttpResponse response;
  response.status = std::atoi(raw.c_str() + 9);
  size_t at = raw.find("\r\n") + 2;
  while (at < end) {
    const size_t eol = raw.find("\r\n", at);
    const std::string line = raw.substr(at, eol - at);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.headers[name] = value;
    }
    at = eol + 2;
  }
  response.body = raw.substr(end + 4);
  return response;
}

}  // namespace qv::test
