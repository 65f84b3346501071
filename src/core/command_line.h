#pragma once
// The options of the two server programs: --dir DIR, --config FILE and --check (daemon only),
// --help, --version.
#include <string>
#include <vector>

namespace qv::core {

struct CommandLine {
  enum class Action { Run, Check, Help, Version };
  Action action = Action::Run;
  std::string dir;     // --dir; empty: the executable's directory
  std::string config;  // --config (daemon only); empty: Server.ini in the directory
  std::string error;   // a usage error; the program prints it and ends with status 2
};

// args without the program name. The desktop program takes no --check.
CommandLine ParseCommandLine(const std::vector<std::string>& args, bool daemon);

std::string UsageText(bool daemon);
std::string VersionText(bool daemon);

// Exit status of a usage error.
constexpr int kUsageExitStatus = 2;

}  // namespace qv::core
