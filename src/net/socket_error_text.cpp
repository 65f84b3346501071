#include "net/socket_error_text.h"

#include <array>

namespace qv::net {
namespace {

// Line n holds the text of code 10000 + n; lines without text are empty.
struct Line {
  int index;
  const char* text;
};

constexpr Line kLines[] = {
    {0, "10000"},
    {4,
     "WSAEINTR    =10004; A blocking operation was interrupted by a call to "
     "WSACancelBlockingCall."},
    {9,
     "WSAEBADF    =10009; An attempt was made to access a socket in a way forbidden by its access "
     "permissions."},
    {13, "WSAEACCES"},
    {14, "WSAEFAULT"},
    {22, "WSAEINVAL(WSABASEERR+22) An invalid argument was supplied."},
    {24, "WSAEMFILE(WSABASEERR+24) Too many open sockets."},
    {35, "WSAEWOULDBLOCK          (WSABASEERR+35)"},
    {36, "WSAEINPROGRESS          (WSABASEERR+36)"},
    {37, "WSAEALREADY             (WSABASEERR+37)"},
    {38, "WSAENOTSOCK             (WSABASEERR+38)"},
    {39, "WSAEDESTADDRREQ         (WSABASEERR+39)"},
    {40, "WSAEMSGSIZE             (WSABASEERR+40)"},
    {41, "WSAEPROTOTYPE           (WSABASEERR+41)"},
    {42, "WSAENOPROTOOPT          (WSABASEERR+42)"},
    {43, "WSAEPROTONOSUPPORT      (WSABASEERR+43)"},
    {44, "WSAESOCKTNOSUPPORT      (WSABASEERR+44)"},
    {45, "WSAEOPNOTSUPP           (WSABASEERR+45)"},
    {46, "WSAEPFNOSUPPORT         (WSABASEERR+46)"},
    {47, "WSAEAFNOSUPPORT         (WSABASEERR+47)"},
    {48, "WSAEADDRINUSE           (WSABASEERR+48)"},
    {49, "WSAEADDRNOTAVAIL        (WSABASEERR+49)"},
    {50, "WSAENETDOWN             (WSABASEERR+50)"},
    {51,
     "WSAENETUNREACH          (WSABASEERR+51) A socket operation was attempted to an unreachable "
     "network."},
    {52,
     "WSAENETRESET            (WSABASEERR+52) The connection has been broken due to keep-alive "
     "activity detecting a failure while the operation was in progress."},
    {53,
     "WSAECONNABORTED         (WSABASEERR+53) An established connection was aborted by the "
     "software in your host machine."},
    {54,
     "WSAECONNRESET           (WSABASEERR+54) An existing connection was forcibly closed by the "
     "remote host."},
    {55, "WSAENOBUFS              (WSABASEERR+55)"},
    {56, "WSAEISCONN              (WSABASEERR+56)"},
    {57, "WSAENOTCONN             (WSABASEERR+57)"},
    {58, "WSAESHUTDOWN            (WSABASEERR+58)"},
    {59, "WSAETOOMANYREFS         (WSABASEERR+59)"},
    {60,
     "WSAETIMEDOUT            (WSABASEERR+60) A connection attempt failed because the connected "
     "party did not properly respond after a period of time, or established connection failed "
     "because connected host has failed to respond."},
    {61,
     "WSAECONNREFUSED         (WSABASEERR+61) No connection could be made because the target "
     "machine actively refused it."},
    {62, "WSAELOOP                (WSABASEERR+62) Cannot translate name."},
    {63, "WSAENAMETOOLONG         (WSABASEERR+63)"},
    {64, "WSAEHOSTDOWN            (WSABASEERR+64)"},
    {65, "WSAEHOSTUNREACH         (WSABASEERR+65)"},
    {66, "WSAENOTEMPTY            (WSABASEERR+66)"},
    {67, "WSAEPROCLIM             (WSABASEERR+67)"},
    {68, "WSAEUSERS               (WSABASEERR+68)"},
    {69, "WSAEDQUOT               (WSABASEERR+69)"},
    {70, "WSAESTALE               (WSABASEERR+70)"},
    {71, "WSAEREMOTE              (WSABASEERR+71)"},
    {91, "WSASYSNOTREADY          (WSABASEERR+91)"},
    {92, "WSAVERNOTSUPPORTED      (WSABASEERR+92)"},
    {93, "WSANOTINITIALISED       (WSABASEERR+93)"},
    {101,
     "WSAEDISCON          =10101; Returned by WSARecv or WSARecvFrom to indicate the remote party "
     "has initiated a graceful shutdown sequence."},
    {102, "WSAENOMORE        =10102; No more results can be returned by WSALookupServiceNext."},
    {103,
     "WSAECANCELLED    =10103; A call to WSALookupServiceEnd was made while this call was still "
     "processing. The call has been canceled."},
    {104, "WSAEINVALIDPROCTABLE       =10104; The procedure call table is invalid."},
    {105, "WSAEINVALIDPROVIDER          =10105; The requested service provider is invalid."},
    {106,
     "WSAEPROVIDERFAILEDINIT     =10106; The requested service provider could not be loaded or "
     "initialized."},
    {107,
     "WSASYSCALLFAILURE               = 10107; A system call that should never fail has failed."},
    {108,
     "WSASERVICE_NOT_FOUND       = 10108; No such service is known. The service cannot be found in "
     "the specified name space."},
    {109, "WSATYPE_NOT_FOUND                = 10109; The specified class was not found."},
    {110,
     "WSA_E_NO_MORE                    = 10110; No more results can be returned by "
     "WSALookupServiceNext."},
    {111,
     "WSA_E_CANCELLED                  = 10111; A call to WSALookupServiceEnd was made while this "
     "call was still processing. The call has been canceled."},
    {112,
     "WSAEREFUSED                      = 10112; A database query failed because it was actively "
     "refused."},
};

}  // namespace

std::optional<std::string> SocketErrorText(int code) {
  const int line = code - kFirstSocketErrorCode;
  if (line < 0 || line >= kSocketErrorLines) return std::nullopt;
  for (const Line& entry : kLines) {
    if (entry.index == line) return entry.text;
  }
  return std::string();
}

}  // namespace qv::net
