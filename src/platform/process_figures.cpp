#include "platform/process_figures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qv::platform {
namespace {

// The fields of /proc/self/stat after the command name (which may hold blanks and parentheses),
// so that index 0 is the state, field 3 of proc(5).
std::optional<std::vector<std::string>> StatFields() {
  std::ifstream in("/proc/self/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(line.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

std::optional<int64_t> BootTimeSeconds() {
  std::ifstream in("/proc/stat");
  for (std::string key; in >> key;) {
    if (key == "btime") {
      int64_t seconds = 0;
      if (in >> seconds) return seconds;
      return std::nullopt;
    }
    in.ignore(1 << 20, '\n');
  }
  return std::nullopt;
}

int64_t CountOpenFds() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int64_t count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the directory's own descriptor
}

}  // namespace

std::optional<ProcessFigures> ReadProcessFigures() {
  const auto fields = StatFields();
  const auto boot = BootTimeSeconds();
  const long ticks = ::sysconf(_SC_CLK_TCK);
  const long page = ::sysconf(_SC_PAGESIZE);
  // proc(5) fields 14 utime, 15 stime, 22 starttime, 23 vsize, 24 rss; index = field - 3.
  if (!fields || fields->size() < 22 || !boot || ticks <= 0 || page <= 0) return std::nullopt;
  ProcessFigures figures;
  try {
    const auto field = [&](int number) { return std::stoll((*fields)[number - 3]); };
    figures.CpuSeconds = static_cast<double>(field(14) + field(15)) / static_cast<double>(ticks);
    figures.StartTimeSeconds =
        static_cast<double>(*boot) + static_cast<double>(field(22)) / static_cast<double>(ticks);
    figures.VirtualBytes = field(23);
    figures.ResidentBytes = field(24) * page;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  figures.OpenFds = CountOpenFds();
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    figures.MaxFds = limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<int64_t>(limit.rlim_cur);
  }
  return figures;
}

}  // namespace qv::platform
