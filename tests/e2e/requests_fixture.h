#pragma once
// The real daemon with two groups: "Team" (a datafile; alice, bob and carol on 127.0.0.2/3/4)
// and "Other" (no datafile; dave on 127.0.0.5). Clients are the client library on those
// addresses. Every wait is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/client.h"
#include "support/daemon_process.h"
#include "support/test_server.h"
#include "wire/packages.h"

namespace qv::e2e {

using namespace std::chrono_literals;
using client::Bytes;

inline const char* HostOf(const std::string& user) {
  if (user == "alice") return "127.0.0.2";
  if (user == "bob") return "127.0.0.3";
  if (user == "carol") return "127.0.0.4";
  return "127.0.0.5";
}

// A 2351-byte data request; fill() sets its fields.
Bytes Request(int32_t code, int32_t subcode, const std::function<void(uint8_t*)>& fill = {});
void SetText(uint8_t* p, wire::ShortStringField field, const std::string& text);
// An address-and-mail package (4000) of the given kind from alice to address, then the body.
Bytes MailPackage(int32_t kind, const std::string& address, const std::string& body);

class RequestsE2E : public ::testing::Test {
 protected:
  RequestsE2E();
  ~RequestsE2E() override;

  // The daemon with Team's datafile at datafile (default DatafilePath(), made empty unless
  // createDatafile is false) and extraIni appended to Server.ini.
  void StartDaemon(const std::string& datafile = {}, bool createDatafile = true,
                   const std::string& extraIni = {});
  std::unique_ptr<client::Client> Login(const std::string& user);

  // The next frame that is neither a keep-alive nor a status broadcast (2000/3).
  static std::optional<Bytes> Next(client::Client& c, std::chrono::milliseconds limit = 3s);
  // True when no such frame arrives within the time.
  static bool Quiet(client::Client& c, std::chrono::milliseconds time = 300ms);

  std::string Pop3(const std::string& name) const { return dir_.Path() + "/POP3/" + name; }
  std::string DatafilePath() const { return dir_.Path() + "/team.qdb"; }
  std::string Stdout() const { return daemon_->Stdout(); }
  bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = 3s) const {
    return daemon_->WaitForOutput(text, limit);
  }

  test::TempDir dir_;
  int port_ = 0;
  std::vector<std::string> daemonEnv_;  // "NAME=value" added to the daemon's environment
  std::unique_ptr<test::DaemonProcess> daemon_;
};

}  // namespace qv::e2e
