#include "state/boundary_errors.h"

#include <exception>
#include <typeinfo>

namespace qv::state {

void BoundaryErrors::Report(std::string_view where) noexcept {
  try {
    std::string type = "unknown exception";
    std::string what = "unknown exception";
    try {
      throw;
    } catch (const std::exception& e) {
      type = typeid(e).name();
      what = e.what();
    } catch (...) {
    }
    {
      std::lock_guard lock(mutex_);
      if (!seen_.insert(std::string(where) + "|" + type).second) return;
    }
    log_.Write(std::string(where) + ": " + what);
  } catch (...) {  // NOLINT(bugprone-empty-catch): reporting must never throw
  }
}

}  // namespace qv::state
