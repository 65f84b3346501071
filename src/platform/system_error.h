#pragma once
// Failures of system calls as std::error_code: errno values in the system category, and the
// results of host name lookups (getaddrinfo, getnameinfo) in a category of their own. The
// platform API reports failures only this way; layers above decide how to show them.
#include <system_error>

namespace qv::platform {

// errno as an error code; no error for 0.
std::error_code SystemError(int error);
// The calling thread's errno.
std::error_code LastSystemError();

// Results of getaddrinfo/getnameinfo (EAI_*), which are not errno values.
const std::error_category& ResolverCategory();
// The error of a lookup result: none for 0, the saved errno for EAI_SYSTEM, else the result in
// ResolverCategory.
std::error_code ResolverError(int result, int savedErrno);

// A non-blocking call found nothing to do now: try again later, never a failure.
bool IsWouldBlock(std::error_code error);

}  // namespace qv::platform
