#include "platform/system_error.h"

#include <netdb.h>

#include <cerrno>
#include <string>

namespace qv::platform {
namespace {

class ResolverErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "resolver"; }
  std::string message(int result) const override { return ::gai_strerror(result); }
};

}  // namespace

std::error_code SystemError(int error) {
  return error == 0 ? std::error_code() : std::error_code(error, std::system_category());
}

std::error_code LastSystemError() {
  return SystemError(errno);
}

const std::error_category& ResolverCategory() {
  static const ResolverErrorCategory category;
  return category;
}

std::error_code ResolverError(int result, int savedErrno) {
  if (result == 0) return {};
  if (result == EAI_SYSTEM) return SystemError(savedErrno != 0 ? savedErrno : EIO);
  return {result, ResolverCategory()};
}

bool IsWouldBlock(std::error_code error) {
  return error == std::errc::resource_unavailable_try_again ||
         error == std::errc::operation_would_block;
}

}  // namespace qv::platform
