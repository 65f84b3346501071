#pragma once
// Socket errors as Windows Sockets numbers, so that every comparison and log text of the server
// stays as its protocol documents them. Mapped from errno and from getaddrinfo results.
namespace qv::platform {

inline constexpr int kWsaBaseError = 10000;
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaBadHandle = 10009;
inline constexpr int kWsaAccess = 10013;
inline constexpr int kWsaFault = 10014;
inline constexpr int kWsaInvalid = 10022;
inline constexpr int kWsaTooManySockets = 10024;
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaInProgress = 10036;
inline constexpr int kWsaAlready = 10037;
inline constexpr int kWsaNotSocket = 10038;
inline constexpr int kWsaMessageSize = 10040;
inline constexpr int kWsaAddressInUse = 10048;
inline constexpr int kWsaAddressNotAvailable = 10049;
inline constexpr int kWsaNetDown = 10050;
inline constexpr int kWsaNetUnreachable = 10051;
inline constexpr int kWsaNetReset = 10052;
inline constexpr int kWsaConnectionAborted = 10053;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaNoBuffers = 10055;
inline constexpr int kWsaIsConnected = 10056;
inline constexpr int kWsaNotConnected = 10057;
inline constexpr int kWsaShutdown = 10058;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnectionRefused = 10061;
inline constexpr int kWsaHostDown = 10064;
inline constexpr int kWsaHostUnreachable = 10065;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;

// Windows Sockets number for an errno value (0 for 0).
int WsaErrorFromErrno(int error);
// Windows Sockets number for a getaddrinfo/getnameinfo result (0 for 0).
int WsaErrorFromResolver(int result, int savedErrno);

}  // namespace qv::platform
