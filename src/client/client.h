#pragma once
// The client library: one simulated client host. It listens on the server's port + 10 at its
// own address, connects to the server's port from that address, sends frames (an int32 length
// and the payload) and receives the frames the server sends back on its own connection.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/blocking_socket.h"

namespace qv::client {

using Bytes = std::vector<uint8_t>;

struct ClientOptions {
  std::string localAddress = "127.0.0.1";  // the client's host (127.0.0.x in tests)
  std::string serverAddress = "127.0.0.1";
  int port = 6340;             // the server's listening port
  bool listen = true;          // false: nothing listens on port + 10
  int receiveBufferBytes = 0;  // > 0: a small receive buffer (a slow reader)
};

class Client {
 public:
  explicit Client(ClientOptions options);

  // Listens on port + 10 (unless switched off), then connects to the server.
  bool Connect(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Accepts the server's connection on port + 10.
  bool AcceptServer(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Connect, accept, and read the user status table (package 5000) that opens a session.
  std::optional<Bytes> Login(std::chrono::milliseconds limit = std::chrono::seconds(5));

  // Requests towards the server.
  bool SendFrame(const Bytes& payload);
  bool SendRaw(const void* data, size_t n);
  bool SendRaw(const Bytes& bytes) { return SendRaw(bytes.data(), bytes.size()); }

  // The next frame from the server (an empty payload is a keep-alive); nothing on time-out or
  // when the server closed the connection (ServerClosed() then tells).
  std::optional<Bytes> ReceiveFrame(std::chrono::milliseconds limit);
  // The next frame that starts with this int32 code; frames before it are dropped.
  std::optional<Bytes> ReceiveFrameWithCode(int32_t code, std::chrono::milliseconds limit);
  bool ServerClosed() const { return serverClosed_; }

  // Waits until the server closes the connection this client opened (within the limit).
  bool WaitRequestConnectionClosed(std::chrono::milliseconds limit);
  // Waits until the server's connection to this client ends, dropping frames meanwhile.
  bool WaitServerConnectionClosed(std::chrono::milliseconds limit);

  void CloseRequestConnection() { request_.Close(); }
  void CloseServerConnection() { back_.Close(); }
  void StopListening() { listener_.Close(); }
  bool HasServerConnection() const { return back_.IsOpen(); }
  int RequestLocalPort() const { return request_.LocalPort(); }

  const std::string& Error() const { return error_; }
  const ClientOptions& Options() const { return options_; }

 private:
  bool TakeFrame(Bytes& frame);
  // Bytes still to come of a frame whose length word has arrived; 0 when there is none.
  size_t MissingFrameBytes() const;
  // Moves the bytes not yet taken to the front and makes room for n more behind them.
  void MakeRoom(size_t n);
  void SetLowWater(int bytes);

  ClientOptions options_;
  platform::BlockingSocket listener_;
  platform::BlockingSocket request_;
  platform::BlockingSocket back_;
  // Received bytes not yet taken as frames lie in pending_ from pendingStart_ to pendingEnd_;
  // the buffer keeps its size, so a large frame is received straight into it.
  Bytes pending_;
  size_t pendingStart_ = 0;
  size_t pendingEnd_ = 0;
  int lowWater_ = 1;  // the server connection's receive low-water mark
  bool serverClosed_ = false;
  std::string error_;
};

// Reads a little-endian int32 at offset; 0 when the bytes are not there.
int32_t Int32At(const Bytes& bytes, size_t offset);
// Builds a frame: int32 length, then the payload.
Bytes Frame(const Bytes& payload);

}  // namespace qv::client
