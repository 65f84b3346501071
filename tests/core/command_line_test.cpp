#include "core/command_line.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using Action = core::CommandLine::Action;

TEST(CommandLineTest, ReadsDirectoryCheckHelpAndVersion) {
  EXPECT_EQ(core::ParseCommandLine({}, true).action, Action::Run);
  EXPECT_TRUE(core::ParseCommandLine({}, true).dir.empty());

  core::CommandLine line = core::ParseCommandLine({"--dir", "/var/lib/quorvane", "--check"}, true);
  EXPECT_EQ(line.action, Action::Check);
  EXPECT_EQ(line.dir, "/var/lib/quorvane");
  EXPECT_TRUE(line.error.empty());

  line = core::ParseCommandLine({"--check", "--dir=relative/dir"}, true);
  EXPECT_EQ(line.action, Action::Check);
  EXPECT_EQ(line.dir, "relative/dir");

  EXPECT_EQ(core::ParseCommandLine({"--version"}, true).action, Action::Version);
  EXPECT_EQ(core::ParseCommandLine({"-V"}, false).action, Action::Version);
  // --help wins over everything, a usage error included.
  EXPECT_EQ(core::ParseCommandLine({"--bogus", "-h"}, true).action, Action::Help);
  EXPECT_TRUE(core::ParseCommandLine({"--bogus", "--help"}, true).error.empty());
  EXPECT_EQ(core::ParseCommandLine({"--check", "--version"}, true).action, Action::Version);

  line = core::ParseCommandLine({"--config", "/etc/quorvane/Server.ini", "--dir", "/srv/q"}, true);
  EXPECT_EQ(line.config, "/etc/quorvane/Server.ini");
  EXPECT_EQ(line.dir, "/srv/q");
  EXPECT_EQ(core::ParseCommandLine({"--config=s.ini", "--check"}, true).config, "s.ini");
}

TEST(CommandLineTest, ReportsUsageErrors) {
  EXPECT_EQ(core::ParseCommandLine({"--dir"}, true).error, "--dir needs a directory");
  EXPECT_EQ(core::ParseCommandLine({"--dir="}, true).error, "--dir needs a directory");
  EXPECT_EQ(core::ParseCommandLine({"--dir", "a", "--dir", "b"}, true).error, "--dir given twice");
  EXPECT_EQ(core::ParseCommandLine({"--frobnicate"}, true).error, "unknown option --frobnicate");
  EXPECT_EQ(core::ParseCommandLine({"stray"}, true).error, "unexpected argument stray");
  // The first error is the one told; --version does not hide it.
  EXPECT_EQ(core::ParseCommandLine({"-x", "-y", "--version"}, true).error, "unknown option -x");
  // The desktop program has no --check.
  EXPECT_EQ(core::ParseCommandLine({"--check"}, false).error, "unknown option --check");
  EXPECT_EQ(core::ParseCommandLine({"--config"}, true).error, "--config needs a file");
  EXPECT_EQ(core::ParseCommandLine({"--config=a", "--config", "b"}, true).error,
            "--config given twice");
  EXPECT_EQ(core::ParseCommandLine({"--config", "a"}, false).error, "unknown option --config");
  EXPECT_EQ(core::ParseCommandLine({"--dir", "/srv/q"}, false).dir, "/srv/q");
}

TEST(CommandLineTest, HelpNamesTheOptionsOfEachProgram) {
  const std::string daemon = core::UsageText(true);
  EXPECT_NE(daemon.find("quorvane-serverd"), std::string::npos);
  EXPECT_NE(daemon.find("--check"), std::string::npos);
  EXPECT_NE(daemon.find("--dir DIR"), std::string::npos);
  const std::string desktop = core::UsageText(false);
  EXPECT_NE(desktop.find("quorvane-server "), std::string::npos);
  EXPECT_EQ(desktop.find("--check"), std::string::npos);
  EXPECT_EQ(core::VersionText(true).rfind("quorvane-serverd ", 0), 0u);
  EXPECT_EQ(core::VersionText(true).find("unknown"), std::string::npos);  // the build's version
}

}  // namespace
}  // namespace qv
