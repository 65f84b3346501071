#include "net/blocking_send.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/close_quietly.h"
#include "platform/files.h"
#include "platform/system_error.h"

namespace qv::service {
namespace {

void Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Stopped(const SendControl& control) {
  return control.stopRequested && control.stopRequested();
}

// Waits up to one idle step for the socket to take data again.
void IdleWait(platform::TcpClient& socket, const SendControl& control) {
  if (!socket.WaitWritable(control.timeouts.sendIdleStepMs)) return;
  // Writable at once yet nothing was sent: do not spin faster than one step.
  if (!socket.Connected()) Pause(control.timeouts.sendIdleStepMs);
}

}  // namespace

int SocketSend(platform::TcpClient& socket, const void* data, int length, std::error_code& error,
               const std::function<bool()>& stopRequested, bool moreFollows) {
  try {
    std::lock_guard lock(socket.SendLock());
    if (stopRequested && stopRequested()) {
      error = std::make_error_code(std::errc::operation_canceled);
      return kSendSocketError;
    }
    return socket.SendBuf(data, length, error, moreFollows);
  } catch (...) {
    error = std::make_error_code(std::errc::operation_canceled);
    return kSendSocketError;
  }
}

int BlockingBufferSend(platform::TcpClient& socket, const uint8_t* data, int length,
                       const SendControl& control) {
  try {
    const int limit =
        control.askContinue ? control.timeouts.sendIdleLimitAsk : control.timeouts.sendIdleLimit;
    int total = 0;
    int idle = 0;
    while (total < length) {
      if (Stopped(control)) return kSendException;
      const int remaining = length - total;
      std::error_code error;
      const int piece = std::min(remaining, kSendPieceSize);
      // Every call but the buffer's last says more follows: the kernel then joins the 4096-byte
      // calls into full segments instead of one segment (and one wake-up of the reader) each.
      const int sent =
          SocketSend(socket, data + total, piece, error, control.stopRequested, piece < remaining);
      if (error == std::errc::operation_canceled) return kSendException;
      if (error && !platform::IsWouldBlock(error)) return kSendSocketError;
      if (sent > remaining) return kSendSocketError;
      if (sent > 0) {
        total += sent;
        idle = 0;
        continue;
      }
      if (!socket.Connected()) return kSendDisconnected;
      if (++idle <= limit) {
        IdleWait(socket, control);
        continue;
      }
      if (!control.askContinue) return kSendTimedOut;
      if (!control.askContinue()) {
        socket.Shutdown();
        throw NoSendError();
      }
      idle = 0;
    }
    return total;
  } catch (...) {
    return kSendException;
  }
}

void BlockingTextStatusSend(platform::TcpClient& socket, const uint8_t* data, int length,
                            std::string& status, const SendControl& control) {
  status.clear();
  const int limit = control.timeouts.sendIdleLimitAsk;
  int total = 0;
  int idle = 0;
  while (total < length) {
    if (Stopped(control)) throw NoSendError();
    const int remaining = length - total;
    std::error_code error;
    const int piece = std::min(remaining, kSendPieceSize);
    const int sent =
        SocketSend(socket, data + total, piece, error, control.stopRequested, piece < remaining);
    if (error == std::errc::operation_canceled) throw NoSendError();
    if ((error && !platform::IsWouldBlock(error)) || sent > remaining) {
      status = kResetSendProcess;
      return;
    }
    if (sent > 0) {
      total += sent;
      idle = 0;
      continue;
    }
    if (!socket.Connected()) {
      status = kResetSendProcess;
      return;
    }
    if (++idle <= limit) {
      IdleWait(socket, control);
      continue;
    }
    if (control.askContinue) {
      if (!control.askContinue()) {
        socket.Shutdown();
        throw NoSendError();
      }
      idle = 0;
      continue;
    }
    if (status == kErrorOfSendProcess) return;
    status = kErrorOfSendProcess;
    Pause(control.timeouts.statusSendPauseMs);
    idle = 0;
  }
  status.clear();
}

void FileSend(platform::TcpClient& socket, const std::string& fileName, std::string& error,
              const SendControl& control, const std::function<void(int)>& progress) {
  error.clear();
  const bool ask = static_cast<bool>(control.askContinue);
  platform::File file = platform::File::Open(fileName, platform::OpenMode::Read, false);
  const std::string failure = "Error! Send of File:" + fileName;
  try {
    const int64_t size = file.Size();
    if (size > INT32_MAX) throw NoSendError();  // the size word cannot express it
    const int32_t sizeWord = static_cast<int32_t>(size);
    uint8_t word[4];
    std::memcpy(word, &sizeWord, sizeof word);
    std::string status;
    BlockingTextStatusSend(socket, word, 4, status, control);
    if (status == kResetSendProcess) {
      error = failure;
      if (!ask) throw NoSendError();
      platform::CloseQuietly(file);
      return;
    }
    file.Seek(0);
    int64_t position = 0;
    int chunk = static_cast<int>(std::min<int64_t>(size, kFileChunkSize));
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(chunk, 1)));
    while (position < size) {
      file.Read(buffer.data(), static_cast<size_t>(chunk));
      BlockingTextStatusSend(socket, buffer.data(), chunk, status, control);
      position += chunk;
      if (progress) progress(static_cast<int>(position * 100 / size));
      if (status == kResetSendProcess) {
        error = failure;
        if (ask) break;
        throw NoSendError();
      }
      chunk = static_cast<int>(std::min<int64_t>(size - position, kFileChunkSize));
    }
  } catch (...) {
    error = failure;
    platform::CloseQuietly(file);
    if (!ask) throw NoSendError();
    return;
  }
  platform::CloseQuietly(file);
}

void NoDelayStep(const config::Settings& settings, platform::TcpClient& socket) {
  if (settings.TcpNoDelay) socket.SetNoDelay(true);
}

void NoDelayStep(const config::Settings& settings, platform::TcpConnection& connection) {
  if (settings.TcpNoDelay) connection.SetNoDelay(true);
}

}  // namespace qv::service
