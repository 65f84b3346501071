#pragma once
// Sending in blocking style on a non-blocking socket, used by send and mail workers off the
// event thread: the buffer send with its result codes, the text-status send, the file send, and
// the exact receive the frame receiver uses. Every system send runs under the socket's lock.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "config/settings.h"
#include "platform/socket.h"
#include "state/timeouts.h"

namespace qv::service {

// Results of BlockingBufferSend below 0.
inline constexpr int kSendSocketError = -2;
inline constexpr int kSendDisconnected = -3;
inline constexpr int kSendTimedOut = -4;
inline constexpr int kSendException = -5;

inline constexpr int kSendPieceSize = 4096;   // bytes per system send
inline constexpr int kFileChunkSize = 65536;  // bytes per chunk of a file send

inline constexpr const char* kResetSendProcess = "Reset send process";
inline constexpr const char* kErrorOfSendProcess = "Error of send process";

// "exception -> No send": a send given up (by the user's answer, or a reset during a file send).
class NoSendError : public std::runtime_error {
 public:
  NoSendError() : std::runtime_error("exception -> No send") {}
};

struct SendControl {
  const Timeouts& timeouts;
  // Present = "ask" on: called at the idle limit; true continues, false gives up.
  std::function<bool()> askContinue;
  // True once the sending thread is to stop (terminated); checked under the socket's lock.
  std::function<bool()> stopRequested;
};

// One non-blocking send under the socket's lock: bytes sent (0 and no error when not
// connected), or -1 with the socket's error; kSendSocketError with operation_canceled when the
// send raised or was stopped. moreFollows: the caller sends the rest of the same buffer next
// (see TcpClient::SendBuf).
int SocketSend(platform::TcpClient& socket, const void* data, int length, std::error_code& error,
               const std::function<bool()>& stopRequested = {}, bool moreFollows = false);

// Sends all length bytes: length, or kSendSocketError / kSendDisconnected / kSendTimedOut /
// kSendException.
int BlockingBufferSend(platform::TcpClient& socket, const uint8_t* data, int length,
                       const SendControl& control);

// The same loop reporting by status: empty on success, kResetSendProcess when the connection
// failed, kErrorOfSendProcess after two time-outs. Throws NoSendError when the user gives up.
void BlockingTextStatusSend(platform::TcpClient& socket, const uint8_t* data, int length,
                            std::string& status, const SendControl& control);

// Sends the file's size as an int32, then its bytes in chunks of 65536. On failure error holds
// "Error! Send of File:" and the name; without ask NoSendError is raised as well. progress, when
// given, gets the whole percent sent after each chunk.
void FileSend(platform::TcpClient& socket, const std::string& fileName, std::string& error,
              const SendControl& control, const std::function<void(int)>& progress = {});

// Turns off the delay of small segments when the TCPNoDelay setting is on; errors are ignored.
void NoDelayStep(const config::Settings& settings, platform::TcpClient& socket);
void NoDelayStep(const config::Settings& settings, platform::TcpConnection& connection);

}  // namespace qv::service
