#include "net/frame_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/client_socket.h"
#include "net/payload_stream.h"
#include "net/user_lookup.h"
#include "platform/time.h"
#include "service/blocking_send.h"
#include "store/short_string.h"

namespace qv::net {
namespace {

void ReleaseBuffer(TmyConnection& state) {
  std::vector<uint8_t>().swap(state.RecvBuffer);
}

void CloseQuietly(platform::TcpConnection& connection) {
  try {
    connection.Close();
  } catch (...) {
  }
}

// Takes up to the missing header bytes out of the socket; true once all four are there.
bool CollectHeader(platform::TcpConnection& connection, TmyConnection& state, int& available) {
  const int wanted = std::min(4 - state.HeaderFill, available);
  const int n = connection.ReceiveBuf(state.HeaderBytes + state.HeaderFill, wanted);
  if (n <= 0) return false;
  state.HeaderFill += n;
  available -= n;
  return state.HeaderFill == 4;
}

// Starts a frame from its complete length header. available is reduced by what is read beyond
// the header. Afterwards Remaining > 0 means a buffer for the payload is ready.
void ReadHeader(Server& server, platform::TcpConnection& connection, TMyNameUser& user,
                int& available) {
  TmyConnection& state = user.Connection;
  state.HeaderFill = 0;
  state.Remaining = store::LoadField<int32_t>(state.HeaderBytes);
  if (state.Remaining == 0) {
    state.Received = state.WriteOffset = 0;
    return;
  }
  if (state.Remaining == kMisalignedHeader) {
    if (connection.ReceiveLength() < 2) {
      state.Remaining = kDataRequestSize;
    } else {
      uint8_t skipped[2];
      if (service::ExactReceive(connection, skipped, 2, server.timeouts) == 2) {
        available -= 2;
        state.Remaining = kDataRequestSize - 2;
      } else {
        state.Remaining = kDataRequestSize;
        CloseQuietly(connection);
      }
    }
    server.log.WriteMsg(86, "[" + user.HostName + "]");
  }
  if (!connection.Connected()) {
    state.Remaining = state.Received = state.WriteOffset = 0;
    return;
  }
  ReleaseBuffer(state);
  if (state.Remaining > server.limits.spoolBytes) {
    // Larger than any frame the server takes: dropped before a byte of it is stored.
    server.log.WriteMsg(21, user.HostName);
    ResetReceiveState(state);
    CloseQuietly(connection);
    return;
  }
  if (state.Remaining > kMaxInMemoryPayload) {
    state.Spooling = true;
    state.SpoolFileName = platform::JoinPath(
        server.pop3Dir, user.HostName + std::to_string(platform::TickCount()) + ".buf");
    try {
      state.SpoolStream.emplace(
          platform::File::Open(state.SpoolFileName, platform::OpenMode::CreateTruncate, true));
      state.RecvBuffer.resize(static_cast<size_t>(kMaxInMemoryPayload));
    } catch (...) {
      // Without its spool file the frame cannot be taken: the connection goes, like a frame
      // that cannot get its memory.
      server.log.WriteMsg(21, user.HostName);
      ResetReceiveState(state);
      CloseQuietly(connection);
      return;
    }
  } else {
    state.Spooling = false;
    state.SpoolStream.reset();
    state.SpoolFileName.clear();
    // A negative length is a size no buffer can have: the connection is closed, and the state
    // starts afresh instead of keeping a negative count for the next connection.
    if (state.Remaining < 0) {
      server.log.Write("Memory allocation for buffer. Error!");
      state.Remaining = 0;
      CloseQuietly(connection);
      return;
    }
    try {
      state.RecvBuffer.resize(static_cast<size_t>(state.Remaining));
    } catch (...) {
      server.log.Write("Memory allocation for buffer. Error!");
      state.Remaining = 0;
      ReleaseBuffer(state);
      CloseQuietly(connection);
      return;
    }
  }
  state.Received = 0;
  state.WriteOffset = 0;
}

void CompleteFrame(Server& server, TMyNameUser& user) {
  TmyConnection& state = user.Connection;
  if (state.Received <= 0) return;
  try {
    uint8_t code[4] = {};
    if (state.Spooling) {
      if (state.SpoolStream) {
        state.SpoolStream->Seek(0);
        state.SpoolStream->ReadSome(code, sizeof code);
      }
    } else {
      // A payload shorter than 4 bytes has its code zero-filled, never read past its end.
      std::memcpy(code, state.RecvBuffer.data(), std::min<size_t>(4, state.RecvBuffer.size()));
    }
    state.RequestCode = store::LoadField<int32_t>(code);
    const std::string host = user.HostName;
    if (state.RequestCode == kMailRequestCode) {
      if (state.Spooling) {
        PayloadStream payload(state.SpoolStream);
        const std::string spoolName = state.SpoolFileName;
        if (server.handlers.AddressAndMail) {
          server.handlers.AddressAndMail(user, host, payload, spoolName);
        }
      } else {
        PayloadStream payload(state.RecvBuffer);
        if (server.handlers.AddressAndMail) {
          server.handlers.AddressAndMail(user, host, payload, std::string());
        }
      }
    } else if (state.Spooling) {
      // Over 524288 bytes and not mail: no request is that large. The spool file goes at once
      // so that such frames cannot fill the disk.
      try {
        if (state.SpoolStream) state.SpoolStream->Close();
      } catch (...) {
      }
      state.SpoolStream.reset();
      platform::DeleteFile(state.SpoolFileName);
      server.log.WriteMsg(89, user.HostName);
    } else if (server.handlers.DataRequest) {
      server.handlers.DataRequest(user, host, state.RecvBuffer.data(),
                                  static_cast<int32_t>(state.RecvBuffer.size()));
    }
    ReleaseBuffer(state);
  } catch (...) {
    try {
      if (user.ClientSocket) user.ClientSocket->Close();
    } catch (...) {
    }
    server.log.WriteMsg(89, user.HostName);
    ReleaseBuffer(state);
  }
  // A spool file the handler did not take is closed and left where it is.
  if (state.Spooling) {
    try {
      if (state.SpoolStream) state.SpoolStream->Close();
    } catch (...) {
    }
    state.SpoolStream.reset();
    state.SpoolFileName.clear();
    state.Spooling = false;
  }
  state.Remaining = 0;
  state.ChunkSize = 0;
}

void Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void ResetReceiveState(TmyConnection& state) {
  if (state.SpoolStream) {
    try {
      state.SpoolStream->Close();
    } catch (...) {
    }
    state.SpoolStream.reset();
    if (!state.SpoolFileName.empty()) platform::DeleteFile(state.SpoolFileName);
  }
  state.SpoolFileName.clear();
  state.Spooling = false;
  ReleaseBuffer(state);
  state.Remaining = state.Received = state.ChunkSize = state.WriteOffset = 0;
  state.HeaderFill = 0;
}

void ReadEvent(Server& server, platform::TcpConnection& connection) {
  int available = connection.ReceiveLength();
  if (available <= 0) return;
  if (connection.Handle() == -1) return;
  TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
  if (user == nullptr) {
    server.log.WriteMsg(18);
    return;
  }
  TmyConnection& state = user->Connection;
  if (state.StreamHandle != connection.Handle()) {
    // A new connection of the user: a frame the old one left unfinished is dropped.
    if (state.Remaining != 0 || state.HeaderFill != 0) ResetReceiveState(state);
    state.StreamHandle = connection.Handle();
  }
  int emptySteps = 0;
  try {
    while (available > 0) {
      if (state.Remaining == 0) {
        const bool complete = CollectHeader(connection, state, available);
        if (!connection.Connected() || !complete) break;
        ReadHeader(server, connection, *user, available);
        if (!connection.Connected()) break;
        if (state.Remaining == 0) continue;
        if (available <= 0) break;  // the payload follows in a later event
      }
      state.ChunkSize = std::min({state.Remaining, kMaxInMemoryPayload, available});
      // The chunk always fits the buffer: in memory the buffer has the frame's size, spooling
      // it has one chunk's size. Anything else is a broken state, never a write past the end.
      const int64_t end = static_cast<int64_t>(state.WriteOffset) + state.ChunkSize;
      if (state.ChunkSize < 0 || end > static_cast<int64_t>(state.RecvBuffer.size())) {
        server.log.WriteMsg(21, user->HostName);
        ResetReceiveState(state);
        CloseQuietly(connection);
        break;
      }
      int n = connection.ReceiveBuf(state.RecvBuffer.data() + state.WriteOffset, state.ChunkSize);
      if (!connection.Connected()) break;
      if (n < 0) {
        n = 0;
        Pause(server.timeouts.emptyReceiveStepMs);
        if (++emptySteps > server.timeouts.emptyReceiveReport) {
          server.log.WriteMsg(20, std::to_string(connection.LastError()) + " " + user->HostName);
          if (!connection.Connected()) server.log.Write("Reset Recieve from " + user->HostName);
          // The rest is read at the next event or checker tick rather than holding the event
          // thread here indefinitely.
          break;
        }
      } else {
        emptySteps = 0;
      }
      state.Received += n;
      if (state.Spooling) {
        if (n > 0) state.SpoolStream->Write(state.RecvBuffer.data(), static_cast<size_t>(n));
        state.WriteOffset = 0;
      } else {
        state.WriteOffset = state.Received;
      }
      state.Remaining -= n;
      available -= n;
      if (state.Remaining <= 0 && state.ChunkSize > 0) CompleteFrame(server, *user);
    }
  } catch (...) {
    server.log.WriteMsg(21, user->HostName);
  }
}

void TcpStackCheckerTick(Server& server, platform::TcpListener& listener) {
  if (!listener.Active()) return;
  const size_t count = listener.ActiveConnections();
  for (size_t i = 0; i < count; ++i) {
    auto connection = listener.Connection(i);
    if (!connection) continue;
    try {
      ReadEvent(server, *connection);
    } catch (...) {
    }
  }
  try {
    listener.CloseHungUp();
  } catch (...) {
  }
}

}  // namespace qv::net
