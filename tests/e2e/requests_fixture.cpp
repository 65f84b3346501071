#include "requests_fixture.h"

#include <csignal>
#include <cstring>

namespace qv::e2e {

Bytes Request(int32_t code, int32_t subcode, const std::function<void(uint8_t*)>& fill) {
  Bytes p(wire::request::kSize, 0);
  wire::SetCodes(p.data(), code, subcode);
  if (fill) fill(p.data());
  return p;
}

void SetText(uint8_t* p, wire::ShortStringField field, const std::string& text) {
  wire::WriteShortString(p, field, text);
}

Bytes MailPackage(int32_t kind, const std::string& address, const std::string& body) {
  Bytes p(wire::mail::kHeaderSize, 0);
  wire::SetInt32At(p.data(), 0, 4000);
  wire::SetInt32At(p.data(), 4, kind);
  SetText(p.data(), wire::mail::kAddress, address);
  SetText(p.data(), wire::mail::kSender, "alice");
  p.insert(p.end(), body.begin(), body.end());
  return p;
}

RequestsE2E::RequestsE2E() {
  port_ = test::FreePortPair();
}

RequestsE2E::~RequestsE2E() {
  if (daemon_) daemon_->Stop(3s);
}

void RequestsE2E::StartDaemon(const std::string& datafile, bool createDatafile,
                              const std::string& extraIni) {
  const std::string path = datafile.empty() ? DatafilePath() : datafile;
  test::IniConfig config;
  config.port = port_;
  config.checkIntervalMs = 0;  // no keep-alives
  config.groups = {{"127.0.0.2::alice", "127.0.0.3::bob", "127.0.0.4::carol"}, {"127.0.0.5::dave"}};
  std::string ini = test::IniText(config);
  const size_t name = ini.find("Name=\r\n");  // the first group gets a datafile
  ini.replace(name, 7, "Name=" + path + "\r\n");
  test::WriteFile(dir_.Path() + "/Server.ini", ini + extraIni);
  if (createDatafile) test::WriteFile(path, "");
  daemon_ = test::DaemonProcess::StartWhenFree(QV_SERVERD_PATH, dir_.Path(),
                                               "Initialization -> Ok!", 60s, daemonEnv_);
  ASSERT_NE(daemon_->Stdout().find("Initialization -> Ok!"), std::string::npos)
      << "the daemon did not start\n"
      << daemon_->Stdout() << daemon_->Stderr();
}

std::unique_ptr<client::Client> RequestsE2E::Login(const std::string& user) {
  client::ClientOptions options;
  options.localAddress = HostOf(user);
  options.serverAddress = "127.0.0.1";
  options.port = port_;
  auto c = std::make_unique<client::Client>(options);
  const auto table = c->Login(5s);
  EXPECT_TRUE(table.has_value()) << user << ": " << c->Error() << "\n" << Stdout();
  return table ? std::move(c) : nullptr;
}

std::optional<Bytes> RequestsE2E::Next(client::Client& c, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto frame = c.ReceiveFrame(left);
    if (!frame) return std::nullopt;
    if (frame->empty()) continue;
    if (frame->size() == 94 && client::Int32At(*frame, 0) == 2000 &&
        client::Int32At(*frame, 4) == 3) {
      continue;
    }
    return frame;
  }
}

bool RequestsE2E::Quiet(client::Client& c, std::chrono::milliseconds time) {
  const auto frame = Next(c, time);
  if (frame) {
    ADD_FAILURE() << "unexpected frame, code " << client::Int32At(*frame, 0) << "/"
                  << client::Int32At(*frame, 4) << ", " << frame->size() << " bytes";
  }
  return !frame;
}

}  // namespace qv::e2e
