#include "net/spool_files.h"

#include <filesystem>
#include <system_error>

namespace qv::net {

int RemoveStaleSpoolFiles(const std::string& pop3Dir) {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(pop3Dir, error), end; !error && it != end; it.increment(error)) {
    std::error_code fileError;
    if (it->path().extension() != ".buf" || !it->is_regular_file(fileError)) continue;
    if (fs::remove(it->path(), fileError)) ++removed;
  }
  return removed;
}

}  // namespace qv::net
