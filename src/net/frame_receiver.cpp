#include "net/frame_receiver.h"

#include <algorithm>
#include <cstring>

#include "net/socket_error_number.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "platform/time.h"
#include "state/client_socket.h"
#include "state/payload_stream.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::net {
namespace {

// Hands complete payloads to the server's request handlers.
class HandOver final : public FrameEvents {
 public:
  HandOver(state::Server& server, state::TMyNameUser& user) : server_(server), user_(user) {}

  std::string SpoolFileName() override {
    return platform::JoinPath(server_.setup.pop3Dir,
                              user_.HostName + std::to_string(platform::TickCount()) + ".buf");
  }

  void FrameComplete(state::TmyConnection& state) override {
    state::Metrics::Add(server_.runtime.metrics.framesIn);
    try {
      Dispatch(state);
    } catch (...) {
      if (user_.ClientSocket) platform::CloseQuietly(*user_.ClientSocket);
      server_.runtime.log.WriteMsg(wire::MsgId::DataProcessingError, user_.HostName);
    }
  }

 private:
  void Dispatch(state::TmyConnection& state) {
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
    state.RequestCode = wire::LoadField<int32_t>(code);
    const std::string host = user_.HostName;
    if (state.RequestCode == wire::code::kMail) {
      if (!server_.runtime.handlers.AddressAndMail) return;
      if (state.Spooling) {
        state::PayloadStream payload(state.SpoolStream);
        server_.runtime.handlers.AddressAndMail(user_, host, payload,
                                                std::string(state.SpoolFileName));
      } else {
        state::PayloadStream payload(state.RecvBuffer);
        server_.runtime.handlers.AddressAndMail(user_, host, payload, std::string());
      }
    } else if (state.Spooling) {
      // Over 524288 bytes and not mail: no request is that large. The spool file goes at once
      // so that such frames cannot fill the disk.
      if (state.SpoolStream) platform::CloseQuietly(*state.SpoolStream);
      state.SpoolStream.reset();
      platform::DeleteFile(state.SpoolFileName);
      server_.runtime.log.WriteMsg(wire::MsgId::DataProcessingError, user_.HostName);
    } else if (server_.runtime.handlers.DataRequest) {
      server_.runtime.handlers.DataRequest(user_, host, state.RecvBuffer.data(),
                                           static_cast<int32_t>(state.RecvBuffer.size()));
    }
  }

  state::Server& server_;
  state::TMyNameUser& user_;
};

// A receive that found nothing although bytes were reported. Every emptyReceiveReport such
// receives in a row (across events) are reported once, with the last socket error.
void NoteEmptyReceive(state::Server& server, platform::TcpConnection& connection,
                      state::TMyNameUser& user) {
  state::TmyConnection& state = user.Connection;
  if (++state.EmptyReceives <= server.setup.timeouts.emptyReceiveReport) return;
  state.EmptyReceives = 0;
  server.runtime.log.WriteMsg(
      wire::MsgId::ReceiveWaitExpired,
      std::to_string(SocketErrorNumber(connection.LastError())) + " " + user.HostName);
  if (!connection.Connected()) server.runtime.log.Write("Reset Recieve from " + user.HostName);
}

}  // namespace

void ReadEvent(state::Server& server, platform::TcpConnection& connection) {
  int available = connection.ReceiveLength();
  if (available <= 0 || connection.Handle() == -1) return;
  state::TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
  if (user == nullptr) {
    server.runtime.log.WriteMsg(wire::MsgId::UnregisteredUserMessage);
    return;
  }
  state::TmyConnection& state = user->Connection;
  if (state.StreamHandle != connection.Handle()) {
    // A new connection of the user: a frame the old one left unfinished is dropped.
    ResetReceiveState(state);
    state.StreamHandle = connection.Handle();
  }
  HandOver handOver(server, *user);
  FrameAssembler assembler(state, handOver, server.runtime.log, user->HostName,
                           server.setup.limits.spoolBytes);
  try {
    while (available > 0 && connection.Connected()) {
      std::span<uint8_t> space;
      FeedResult result = assembler.Space(available, space);
      if (result == FeedResult::Continue) {
        const int n = connection.ReceiveBuf(space.data(), static_cast<int>(space.size()));
        if (!connection.Connected()) break;
        if (n <= 0) {
          // Promised bytes are not there yet: the rest is read at the next read event or
          // checker tick, never waited for here.
          NoteEmptyReceive(server, connection, *user);
          break;
        }
        state.EmptyReceives = 0;
        state::Metrics::Add(server.runtime.metrics.bytesIn, static_cast<uint64_t>(n));
        available -= n;
        result = assembler.Commit(n, available);
      }
      if (result == FeedResult::Close) platform::CloseQuietly(connection);
    }
  } catch (...) {
    server.runtime.log.WriteMsg(wire::MsgId::ReceiveError, user->HostName);
  }
}

FeedResult ReceiveBytes(state::Server& server, state::TMyNameUser& user,
                        std::span<const uint8_t> bytes, size_t& taken) {
  HandOver handOver(server, user);
  FrameAssembler assembler(user.Connection, handOver, server.runtime.log, user.HostName);
  return assembler.Feed(bytes, 0, taken);
}

void TcpStackCheckerTick(state::Server& server, platform::TcpListener& listener) {
  if (!listener.Active()) return;
  try {
    const size_t count = listener.ActiveConnections();
    for (size_t i = 0; i < count; ++i) {
      if (auto connection = listener.Connection(i)) ReadEvent(server, *connection);
    }
    listener.CloseHungUp();
  } catch (...) {
    server.runtime.boundaryErrors.Report("TCP stack checker");
  }
}

}  // namespace qv::net
