#pragma once
// A whole server built in-process without sockets (support/service_server.h: groups "Team" and
// "Other", four users, their mailboxes), and every reply package recorded instead of sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/poll_loop.h"
#include "service/dispatch.h"
#include "service/request_package.h"
#include "state/server.h"
#include "support/recording_front_end.h"
#include "support/temp_dir.h"

namespace qv::service::test {

struct SentReply {
  state::TMyNameUser* target;
  std::vector<uint8_t> data;
  std::string host;
  int scope;

  int32_t Code() const { return wire::Int32At(data.data(), 0); }
  int32_t Subcode() const { return wire::Int32At(data.data(), 4); }
};

class ServiceFixture : public ::testing::Test {
 protected:
  ServiceFixture();

  state::TMyNameUser& Alice() { return server_.roster.groups[0].Users[0]; }
  state::TMyNameUser& Bob() { return server_.roster.groups[0].Users[1]; }
  state::TMyNameUser& Carol() { return server_.roster.groups[0].Users[2]; }
  state::TMyNameUser& Dave() { return server_.roster.groups[1].Users[0]; }
  state::TMyDBUser& Team() { return server_.roster.groups[0]; }
  state::TMyDBUser& Other() { return server_.roster.groups[1]; }

  ReplySender Recorder();
  // The log's pending text (newest line first).
  bool Logged(const std::string& text) const;
  int CountLogged(const std::string& text) const;
  std::string LogText() const { return server_.runtime.log.Pending(); }

  std::string Pop3(const std::string& name) const { return dir_.File("POP3/" + name); }
  std::string DatafilePath() const { return dir_.File("team.qdb"); }

  qv::test::TempDir dir_;
  platform::PollLoop loop_;
  qv::test::RecordingFrontEnd front_;
  state::Server server_;
  std::vector<SentReply> replies_;
};

// A 2351-byte request with the fields tests set most.
class RequestBuilder {
 public:
  RequestBuilder(int32_t code, int32_t subcode = 0);
  RequestBuilder& Index2(int32_t v);
  RequestBuilder& Date(double v);
  RequestBuilder& Mark(double v);
  RequestBuilder& Days(uint16_t v);
  RequestBuilder& Flag(uint8_t v);
  RequestBuilder& PartFlags(bool title, bool memo, bool slots, bool first, bool second);
  RequestBuilder& SlotId(int32_t v);
  RequestBuilder& SlotFlag(uint8_t v);
  RequestBuilder& SlotTime(const std::string& v);
  RequestBuilder& Text(const std::string& v);
  wire::RequestPackage& Bytes() { return bytes_; }
  uint8_t* data() { return bytes_.data(); }

 private:
  wire::RequestPackage bytes_{};
};

}  // namespace qv::service::test
