#include "net/outgoing.h"

#include <string>
#include <vector>

#include "net/frame_receiver.h"
#include "net/no_delay.h"
#include "net/socket_error_number.h"
#include "net/socket_error_text.h"
#include "net/socket_window.h"
#include "net/user_lookup.h"
#include "platform/close_quietly.h"
#include "platform/system_error.h"

namespace qv::net {
namespace {

// What a log line quotes for a socket error when its number has no line of the error table:
// "Host not found." for 11001, else the number.
std::string NumberText(int number) {
  if (number == kHostNotFoundNumber) return "Host not found.";
  return std::to_string(number);
}

// The text a log line quotes for a socket error: its line of the error table, else NumberText.
std::string ErrorTextOrNumber(std::error_code error) {
  const int number = SocketErrorNumber(error);
  if (auto text = SocketErrorText(number)) return *text;
  return NumberText(number);
}

bool IsConnectionReset(std::error_code error) {
  return error == std::errc::connection_reset || error == std::errc::broken_pipe;
}

void CloseIncomingOf(state::Server& server, int32_t handle) {
  if (server.runtime.connections == nullptr || handle == -1) return;
  try {
    server.runtime.connections->CloseIncoming(handle);
  } catch (...) {
    server.runtime.boundaryErrors.Report("Closing an incoming connection");
  }
}

}  // namespace

void ClientSocketConnect(state::Server& server, platform::TcpClient& socket) {
  state::TMyNameUser* user = UserByOutgoingSocket(server, socket);
  if (user == nullptr) {
    server.runtime.log.WriteMsg(wire::MsgId::UnidentifiedUserConnect);
    return;
  }
  NoDelayStep(server.setup.settings, socket);
  if (server.runtime.sessionEvents.Started) server.runtime.sessionEvents.Started(*user);
}

void ClientSocketDisconnect(state::Server& server, platform::TcpClient& socket) {
  if (server.runtime.sessionEvents.OutgoingClosed)
    server.runtime.sessionEvents.OutgoingClosed(socket);
}

void ServerClientDisconnect(state::Server& server, platform::TcpConnection& connection) {
  // A frame the connection leaves unfinished can never complete: its buffer and spool file go.
  if (state::TMyNameUser* user = UserByIncomingHandle(server, connection.Handle())) {
    if (user->Connection.StreamHandle == connection.Handle()) ResetReceiveState(user->Connection);
  }
  if (server.runtime.sessionEvents.IncomingClosed)
    server.runtime.sessionEvents.IncomingClosed(connection.Handle());
}

void ClientSocketError(state::Server& server, platform::TcpClient& socket, std::error_code& code) {
  const std::error_code error = code;
  state::TMyNameUser* user = UserByOutgoingSocket(server, socket);
  if (user == nullptr && socket.Handle() != -1)
    user = UserByIncomingHandle(server, socket.Handle());
  code.clear();
  if (user == nullptr) {
    platform::CloseQuietly(socket);
    return;
  }
  if (!error || platform::IsWouldBlock(error)) return;
  if (IsConnectionReset(error)) {
    platform::CloseQuietly(socket);
    server.runtime.log.WriteMsg(wire::MsgId::ResetConnection, user->HostName);
    return;
  }
  if (error == std::errc::connection_refused) {
    if (user->ReconnectCount < server.setup.settings.Reconnect) {
      ++user->ReconnectCount;
      try {
        user->ClientSocket->Open();
      } catch (...) {
        server.runtime.boundaryErrors.Report("Reconnect");
      }
      return;
    }
    server.runtime.log.WriteMsg(wire::MsgId::NotRespond, user->HostName);
    platform::CloseQuietly(*user->ClientSocket);
    user->ReconnectCount = 0;
    CloseIncomingOf(server, user->ServerSocketHandle);
    return;
  }
  server.runtime.log.WriteMsg(wire::MsgId::ClientSocketError,
                              user->HostName + " - " + ErrorTextOrNumber(error));
  platform::CloseQuietly(socket);
  CloseIncomingOf(server, user->ServerSocketHandle);
}

void ServerClientError(state::Server& server, platform::TcpConnection& connection,
                       std::error_code& code) {
  const std::error_code error = code;
  if (!error) return;
  try {
    const int number = SocketErrorNumber(error);
    if (auto text = SocketErrorText(number)) {
      server.runtime.log.WriteMsg(wire::MsgId::ListenerClientError, *text);
    } else {
      state::TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
      server.runtime.log.WriteMsg(
          wire::MsgId::ListenerClientError,
          (user != nullptr ? user->HostName : std::string()) + " - " + NumberText(number));
    }
  } catch (...) {
    server.runtime.boundaryErrors.Report("Client error");
  }
  if (!platform::IsWouldBlock(error)) {
    state::TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
    platform::CloseQuietly(connection);
    if (user != nullptr && user->ClientSocket && user->ClientSocket->Connected()) {
      platform::CloseQuietly(*user->ClientSocket);
    }
  }
  code.clear();
}

void ConnectTimerTick(state::Server& server, TFormSocksServer& window) {
  // The users admitted since the last tick, taken off the list under the send lock; those
  // admitted while this tick runs stay for the next.
  std::vector<state::TMyNameUser*> pending;
  try {
    std::lock_guard sendLock(server.runtime.sendLock);
    pending.swap(server.roster.pendingList);
  } catch (...) {
    server.runtime.boundaryErrors.Report("Connect timer");
  }
  size_t walked = 0;
  try {
    for (; walked < pending.size(); ++walked) {
      state::TMyNameUser* user = pending[walked];
      if (!user->ClientSocket) continue;
      state::ClientSocket& socket = *user->ClientSocket;
      if (!socket.Active()) {
        if (socket.Handle() != -1) platform::CloseQuietly(socket);
        socket.Open();
      } else {
        // An outgoing connection of an earlier session is still up: both connections go and
        // the client has to connect anew.
        platform::CloseQuietly(socket);
        CloseIncomingOf(server, user->ServerSocketHandle);
        server.runtime.log.Write("->Error Connect with " + user->HostName);
      }
    }
  } catch (...) {
    server.runtime.boundaryErrors.Report("Connect timer");
    // The rest is walked again at the next tick, ahead of those admitted since.
    try {
      std::lock_guard sendLock(server.runtime.sendLock);
      server.roster.pendingList.insert(server.roster.pendingList.begin(),
                                       pending.begin() + static_cast<std::ptrdiff_t>(walked),
                                       pending.end());
    } catch (...) {
      server.runtime.boundaryErrors.Report("Connect timer");
    }
    return;
  }
  // Disabled under the send lock, so that a user appended meanwhile keeps the timer running.
  std::lock_guard sendLock(server.runtime.sendLock);
  if (server.roster.pendingList.empty()) window.ConnectTimerDisabled();
}

}  // namespace qv::net
