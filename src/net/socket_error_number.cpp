#include "net/socket_error_number.h"

#include <netdb.h>

#include <cerrno>

#include "platform/system_error.h"

namespace qv::net {
namespace {

constexpr int kBase = 10000;
constexpr int kSystemCallFailure = kBase + 107;  // no closer equivalent

int NumberOfErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return kBase + 4;
    case EBADF:
      return kBase + 9;
    case EACCES:
    case EPERM:
      return kBase + 13;
    case EFAULT:
      return kBase + 14;
    case EINVAL:
      return kBase + 22;
    case EMFILE:
    case ENFILE:
      return kBase + 24;
    case EAGAIN:
      return kBase + 35;
    case EINPROGRESS:
      return kBase + 36;
    case EALREADY:
      return kBase + 37;
    case ENOTSOCK:
      return kBase + 38;
    case EMSGSIZE:
      return kBase + 40;
    case EADDRINUSE:
      return kBase + 48;
    case EADDRNOTAVAIL:
      return kBase + 49;
    case ENETDOWN:
      return kBase + 50;
    case ENETUNREACH:
      return kBase + 51;
    case ENETRESET:
      return kBase + 52;
    case ECONNABORTED:
      return kBase + 53;
    case ECONNRESET:
    case EPIPE:
      return kBase + 54;
    case ENOBUFS:
    case ENOMEM:
      return kBase + 55;
    case EISCONN:
      return kBase + 56;
    case ENOTCONN:
      return kBase + 57;
    case ESHUTDOWN:
      return kBase + 58;
    case ETIMEDOUT:
      return kBase + 60;
    case ECONNREFUSED:
      return kBase + 61;
    case EHOSTDOWN:
      return kBase + 64;
    case EHOSTUNREACH:
      return kBase + 65;
    default:
      return kSystemCallFailure;
  }
}

int NumberOfLookupResult(int result) {
  switch (result) {
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_MEMORY:
      return kBase + 55;
    default:
      return kHostNotFoundNumber;  // EAI_NONAME, EAI_NODATA, EAI_FAMILY, ...
  }
}

}  // namespace

int SocketErrorNumber(std::error_code error) {
  if (!error) return 0;
  if (error.category() == platform::ResolverCategory()) return NumberOfLookupResult(error.value());
  if (error.category() == std::system_category() || error.category() == std::generic_category()) {
    return NumberOfErrno(error.value());
  }
  return kSystemCallFailure;
}

}  // namespace qv::net
