#include "net/outgoing.h"

#include <string>
#include <vector>

#include "net/frame_receiver.h"
#include "net/socket_error_text.h"
#include "net/socket_window.h"
#include "net/user_lookup.h"
#include "platform/socket_errors.h"
#include "service/blocking_send.h"
#include "service/sessions.h"

namespace qv::net {
namespace {

// The text a log line quotes for a socket error: its line of the error table, else "Host not
// found." for 11001, else the number.
std::string ErrorTextOrNumber(int code) {
  std::string text;
  if (SocketErrorText(code, text)) return text;
  if (code == platform::kWsaHostNotFound) return "Host not found.";
  return std::to_string(code);
}

void CloseIncomingOf(Server& server, int32_t handle) {
  if (server.socketWindow == nullptr || handle == -1) return;
  try {
    server.socketWindow->ServerSocket1.CloseByHandle(handle);
  } catch (...) {
  }
}

}  // namespace

void ClientSocketConnect(Server& server, platform::TcpClient& socket) {
  TMyNameUser* user = UserByOutgoingSocket(server, socket);
  if (user == nullptr) {
    server.log.WriteMsg(26);
    return;
  }
  service::NoDelayStep(server.settings, socket);
  service::SessionStart(server, *user);
}

void ClientSocketDisconnect(Server& server, platform::TcpClient& socket) {
  service::SessionEndOutgoing(server, socket);
}

void ServerClientDisconnect(Server& server, platform::TcpConnection& connection) {
  // A frame the connection leaves unfinished can never complete: its buffer and spool file go.
  if (TMyNameUser* user = UserByIncomingHandle(server, connection.Handle())) {
    if (user->Connection.StreamHandle == connection.Handle()) ResetReceiveState(user->Connection);
  }
  service::SessionEndIncoming(server, connection.Handle());
}

void ClientSocketError(Server& server, platform::TcpClient& socket, int& code) {
  const int error = code;
  TMyNameUser* user = UserByOutgoingSocket(server, socket);
  if (user == nullptr && socket.Handle() != -1)
    user = UserByIncomingHandle(server, socket.Handle());
  code = 0;
  if (user == nullptr) {
    try {
      socket.Close();
    } catch (...) {
    }
    return;
  }
  if (error == 0 || error == platform::kWsaWouldBlock) return;
  if (error == platform::kWsaConnectionReset) {
    try {
      socket.Close();
    } catch (...) {
    }
    server.log.WriteMsg(72, user->HostName);
    return;
  }
  if (error == platform::kWsaConnectionRefused) {
    if (user->ReconnectCount < server.settings.Reconnect) {
      ++user->ReconnectCount;
      try {
        user->ClientSocket->Open();
      } catch (...) {
      }
      return;
    }
    server.log.WriteMsg(23, user->HostName);
    try {
      user->ClientSocket->Close();
      user->ReconnectCount = 0;
      CloseIncomingOf(server, user->ServerSocketHandle);
    } catch (...) {
    }
    return;
  }
  server.log.WriteMsg(24, user->HostName + " - " + ErrorTextOrNumber(error));
  try {
    socket.Close();
  } catch (...) {
  }
  CloseIncomingOf(server, user->ServerSocketHandle);
}

void ServerClientError(Server& server, platform::TcpConnection& connection, int& code) {
  const int error = code;
  if (error == 0) return;
  try {
    std::string text;
    if (SocketErrorText(error, text)) {
      server.log.WriteMsg(25, text);
    } else {
      const std::string tail =
          error == platform::kWsaHostNotFound ? "Host not found." : std::to_string(error);
      TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
      server.log.WriteMsg(25, (user != nullptr ? user->HostName : std::string()) + " - " + tail);
    }
  } catch (...) {
  }
  if (error != platform::kWsaWouldBlock) {
    TMyNameUser* user = UserByIncomingHandle(server, connection.Handle());
    try {
      connection.Close();
    } catch (...) {
    }
    try {
      if (user != nullptr && user->ClientSocket && user->ClientSocket->Connected()) {
        user->ClientSocket->Close();
      }
    } catch (...) {
    }
  }
  code = 0;
}

void ConnectTimerTick(Server& server, TFormSocksServer& window) {
  // The users admitted since the last tick, taken off the list under the send lock; those
  // admitted while this tick runs stay for the next.
  std::vector<TMyNameUser*> pending;
  try {
    std::lock_guard sendLock(server.sendLock);
    pending.swap(server.pendingList);
  } catch (...) {
  }
  size_t walked = 0;
  try {
    for (; walked < pending.size(); ++walked) {
      TMyNameUser* user = pending[walked];
      if (!user->ClientSocket) continue;
      ClientSocket& socket = *user->ClientSocket;
      if (!socket.Active()) {
        try {
          if (socket.Handle() != -1) socket.Close();
        } catch (...) {
        }
        socket.Open();
      } else {
        // An outgoing connection of an earlier session is still up: both connections go and
        // the client has to connect anew.
        try {
          socket.Close();
        } catch (...) {
        }
        CloseIncomingOf(server, user->ServerSocketHandle);
        server.log.Write("->Error Connect with " + user->HostName);
      }
    }
  } catch (...) {
    // The rest is walked again at the next tick, ahead of those admitted since.
    try {
      std::lock_guard sendLock(server.sendLock);
      server.pendingList.insert(server.pendingList.begin(),
                                pending.begin() + static_cast<std::ptrdiff_t>(walked),
                                pending.end());
    } catch (...) {
    }
    return;
  }
  // Disabled under the send lock, so that a user appended meanwhile keeps the timer running.
  std::lock_guard sendLock(server.sendLock);
  if (server.pendingList.empty()) window.ConnectTimerDisabled();
}

}  // namespace qv::net
