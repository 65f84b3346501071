#include "platform/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace qv::platform {

int WsaErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return kWsaInterrupted;
    case EBADF:
      return kWsaBadHandle;
    case EACCES:
    case EPERM:
      return kWsaAccess;
    case EFAULT:
      return kWsaFault;
    case EINVAL:
      return kWsaInvalid;
    case EMFILE:
    case ENFILE:
      return kWsaTooManySockets;
    case EAGAIN:
      return kWsaWouldBlock;
    case EINPROGRESS:
      return kWsaInProgress;
    case EALREADY:
      return kWsaAlready;
    case ENOTSOCK:
      return kWsaNotSocket;
    case EMSGSIZE:
      return kWsaMessageSize;
    case EADDRINUSE:
      return kWsaAddressInUse;
    case EADDRNOTAVAIL:
      return kWsaAddressNotAvailable;
    case ENETDOWN:
      return kWsaNetDown;
    case ENETUNREACH:
      return kWsaNetUnreachable;
    case ENETRESET:
      return kWsaNetReset;
    case ECONNABORTED:
      return kWsaConnectionAborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaNoBuffers;
    case EISCONN:
      return kWsaIsConnected;
    case ENOTCONN:
      return kWsaNotConnected;
    case ESHUTDOWN:
      return kWsaShutdown;
    case ETIMEDOUT:
      return kWsaTimedOut;
    case ECONNREFUSED:
      return kWsaConnectionRefused;
    case EHOSTDOWN:
      return kWsaHostDown;
    case EHOSTUNREACH:
      return kWsaHostUnreachable;
    default:
      return kWsaBaseError + 107;  // WSASYSCALLFAILURE: no closer equivalent
  }
}

int WsaErrorFromResolver(int result, int savedErrno) {
  switch (result) {
    case 0:
      return 0;
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
    case EAI_MEMORY:
      return kWsaNoBuffers;
    case EAI_SYSTEM:
      return WsaErrorFromErrno(savedErrno);
    default:
      return kWsaHostNotFound;  // EAI_NONAME, EAI_NODATA, EAI_FAMILY, ...
  }
}

}  // namespace qv::platform
