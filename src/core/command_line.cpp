#include "core/command_line.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace qv::core {

namespace {

const char* ProgramName(bool daemon) {
  return daemon ? "quorvane-serverd" : "quorvane-server";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, bool daemon) {
  CommandLine result;
  bool help = false, version = false, check = false, dirGiven = false, configGiven = false;
  std::string error;  // the first usage error
  const auto fail = [&error](std::string text) {
    if (error.empty()) error = std::move(text);
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version" || arg == "-V") {
      version = true;
    } else if (daemon && arg == "--check") {
      check = true;
    } else if (arg == "--dir" || arg.rfind("--dir=", 0) == 0) {
      std::string value;
      if (arg != "--dir") {
        value = arg.substr(6);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (value.empty()) fail("--dir needs a directory");
      if (dirGiven) fail("--dir given twice");
      dirGiven = true;
      result.dir = value;
    } else if (daemon && (arg == "--config" || arg.rfind("--config=", 0) == 0)) {
      std::string value;
      if (arg != "--config") {
        value = arg.substr(9);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (value.empty()) fail("--config needs a file");
      if (configGiven) fail("--config given twice");
      configGiven = true;
      result.config = value;
    } else {
      fail((arg.size() > 1 && arg[0] == '-' ? "unknown option " : "unexpected argument ") + arg);
    }
  }
  // --help wins over everything, errors included; then a usage error; then --version.
  if (help) {
    result.action = CommandLine::Action::Help;
  } else if (!error.empty()) {
    result.error = error;
  } else if (version) {
    result.action = CommandLine::Action::Version;
  } else if (check) {
    result.action = CommandLine::Action::Check;
  }
  return result;
}

std::string UsageText(bool daemon) {
  std::string text = std::string("Usage: ") + ProgramName(daemon) + " [--dir DIR]" +
                     (daemon ? " [--config FILE] [--check]" : "") + "\n";
  text += daemon ? "The group calendar server without a window: log lines go to standard output,\n"
                   "SIGINT and SIGTERM stop it; SIGHUP re-opens debug.log.\n"
                 : "The group calendar server with its log window, settings and tray icon.\n";
  text +=
      "\n"
      "  --dir DIR    keep Server.ini, POP3/ and debug.log in DIR (created with mode 0750\n"
      "               when missing) instead of the program's own directory; one server\n"
      "               runs per directory\n";
  if (daemon) {
    text +=
        "  --config FILE  read the settings from FILE instead of DIR/Server.ini (the package's\n"
        "               service uses /etc/quorvane/Server.ini)\n";
    text +=
        "  --check      read Server.ini and print what start-up would log, without opening\n"
        "               the port or any datafile or mailbox; exit status 0 when start-up\n"
        "               would say \"Initialization -> Ok!\" and no key, datafile or\n"
        "               directory is at fault, 1 otherwise (each fault is named)\n";
  }
  text +=
      "  --help       show this text\n"
      "  --version    show the version\n"
      "\n"
      "Without --dir only one server runs on the machine; a second start prints\n"
      "\"Program is already running.\" and ends with status 1.\n";
  return text;
}

std::string VersionText(bool daemon) {
  return std::string(ProgramName(daemon)) + " " + QV_VERSION + "\n";
}

}  // namespace qv::core
