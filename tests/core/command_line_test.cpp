#include "core/command_line.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, ReadsDirectoryCheckHelpAndVersion) {
  EXPECT_EQ(ParseCommandLine({}, true).action, Action::Run);
  EXPECT_TRUE(ParseCommandLine({}, true).dir.empty());

  CommandLine line = ParseCommandLine({"--dir", "/var/lib/quorvane", "--check"}, true);
  EXPECT_EQ(line.action, Action::Check);
  EXPECT_EQ(line.dir, "/var/lib/quorvane");
  EXPECT_TRUE(line.error.empty());

  line = ParseCommandLine({"--check", "--dir=relative/dir"}, true);
  EXPECT_EQ(line.action, Action::Check);
  EXPECT_EQ(line.dir, "relative/dir");

  EXPECT_EQ(ParseCommandLine({"--version"}, true).action, Action::Version);
  EXPECT_EQ(ParseCommandLine({"-V"}, false).action, Action::Version);
  // --help wins over everything, a usage error included.
  EXPECT_EQ(ParseCommandLine({"--bogus", "-h"}, true).action, Action::Help);
  EXPECT_TRUE(ParseCommandLine({"--bogus", "--help"}, true).error.empty());
  EXPECT_EQ(ParseCommandLine({"--check", "--version"}, true).action, Action::Version);

  line = ParseCommandLine({"--config", "/etc/quorvane/Server.ini", "--dir", "/srv/q"}, true);
  EXPECT_EQ(line.config, "/etc/quorvane/Server.ini");
  EXPECT_EQ(line.dir, "/srv/q");
  EXPECT_EQ(ParseCommandLine({"--config=s.ini", "--check"}, true).config, "s.ini");
}

TEST(CommandLineTest, ReportsUsageErrors) {
  EXPECT_EQ(ParseCommandLine({"--dir"}, true).error, "--dir needs a directory");
  EXPECT_EQ(ParseCommandLine({"--dir="}, true).error, "--dir needs a directory");
  EXPECT_EQ(ParseCommandLine({"--dir", "a", "--dir", "b"}, true).error, "--dir given twice");
  EXPECT_EQ(ParseCommandLine({"--frobnicate"}, true).error, "unknown option --frobnicate");
  EXPECT_EQ(ParseCommandLine({"stray"}, true).error, "unexpected argument stray");
  // The first error is the one told; --version does not hide it.
  EXPECT_EQ(ParseCommandLine({"-x", "-y", "--version"}, true).error, "unknown option -x");
  // The desktop program has no --check.
  EXPECT_EQ(ParseCommandLine({"--check"}, false).error, "unknown option --check");
  EXPECT_EQ(ParseCommandLine({"--config"}, true).error, "--config needs a file");
  EXPECT_EQ(ParseCommandLine({"--config=a", "--config", "b"}, true).error, "--config given twice");
  EXPECT_EQ(ParseCommandLine({"--config", "a"}, false).error, "unknown option --config");
  EXPECT_EQ(ParseCommandLine({"--dir", "/srv/q"}, false).dir, "/srv/q");
}

TEST(CommandLineTest, HelpNamesTheOptionsOfEachProgram) {
  const std::string daemon = UsageText(true);
  EXPECT_NE(daemon.find("quorvane-serverd"), std::string::npos);
  EXPECT_NE(daemon.find("--check"), std::string::npos);
  EXPECT_NE(daemon.find("--dir DIR"), std::string::npos);
  const std::string desktop = UsageText(false);
  EXPECT_NE(desktop.find("quorvane-server "), std::string::npos);
  EXPECT_EQ(desktop.find("--check"), std::string::npos);
  EXPECT_EQ(VersionText(true).rfind("quorvane-serverd ", 0), 0u);
  EXPECT_EQ(VersionText(true).find("unknown"), std::string::npos);  // the build's version
}

}  // namespace
}  // namespace qv
