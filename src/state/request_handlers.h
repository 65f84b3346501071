#pragma once
// The two entry points complete frames are handed to. Empty functions drop the frame; the
// request dispatch and mail fill them in, tests inject their own.
#include <cstdint>
#include <functional>
#include <string>

namespace qv::platform {
class TcpClient;
}

namespace qv::state {

struct TMyNameUser;
class PayloadStream;

struct RequestHandlers {
  // A complete data request: the payload may be modified and stays valid for the call.
  std::function<void(TMyNameUser& user, const std::string& host, uint8_t* payload, int32_t size)>
      DataRequest;
  // A complete address-and-mail package (code 4000): in memory (spool file name empty) or in the
  // open spool file, which the handler may take over (close and rename).
  std::function<void(TMyNameUser& user, const std::string& host, PayloadStream& payload,
                     const std::string& spoolFileName)>
      AddressAndMail;
  // The member API's sinks (front ends other than the native one): each package the native
  // members of group (-1: of every group) are sent, except to the sink `except` whose change it
  // is. Event thread.
  std::function<void(int32_t group, const uint8_t* data, int32_t size, const void* except)>
      Observers;
};

// What the connection layer reports to the sessions: the user's outgoing connection is up, or
// one of its two connections closed. Empty functions ignore the event.
struct SessionHandlers {
  std::function<void(TMyNameUser& user)> Started;
  std::function<void(platform::TcpClient& socket)> OutgoingClosed;
  std::function<void(int incomingHandle)> IncomingClosed;
};

}  // namespace qv::state
