#include "service_fixture.h"

#include "platform/files.h"
#include "store/datafile.h"

namespace qv::service::test {
namespace {

void AddUser(TMyDBUser& group, int32_t groupIndex, int32_t userIndex, const std::string& name,
             const std::string& host) {
  TMyNameUser& user = group.Users[static_cast<size_t>(userIndex)];
  user.Valid = true;
  user.GroupIndex = groupIndex;
  user.UserIndex = userIndex;
  user.UserName = name;
  user.HostName = host;
}

}  // namespace

ServiceFixture::ServiceFixture() : server_(dir_.Path(), loop_, front_) {
  platform::CreateDirectory(server_.pop3Dir);
  server_.groups = GroupTable(2);
  TMyDBUser& team = server_.groups[0];
  team.Alias = "Team";
  team.FileName = dir_.File("team.qdb");
  team.NoDatafile = false;
  team.MayInsertFirst = true;
  dir_.Write("team.qdb", "");
  store::BuildBlankRecord(*team.BlankRecord, 9, 20, 0);
  team.Users = std::vector<TMyNameUser>(3);
  team.UserCount = 3;
  AddUser(team, 0, 0, "alice", "127.0.0.2");
  AddUser(team, 0, 1, "bob", "127.0.0.3");
  AddUser(team, 0, 2, "carol", "127.0.0.4");
  TMyDBUser& other = server_.groups[1];
  other.Alias = "Other";
  store::BuildBlankRecord(*other.BlankRecord, 9, 20, 0);
  other.Users = std::vector<TMyNameUser>(1);
  other.UserCount = 1;
  AddUser(other, 1, 0, "dave", "127.0.0.5");
  for (const char* host : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    dir_.Write(std::string("POP3/") + host + ".bin", "");
  }
  server_.timeouts.retryingOpenLimitMs = 200;
}

ReplySender ServiceFixture::Recorder() {
  return [this](TMyNameUser& target, const uint8_t* data, int32_t size, const std::string& host,
                int scope) {
    replies_.push_back(SentReply{&target, std::vector<uint8_t>(data, data + size), host, scope});
  };
}

bool ServiceFixture::Logged(const std::string& text) const {
  return LogText().find(text) != std::string::npos;
}

int ServiceFixture::CountLogged(const std::string& text) const {
  const std::string log = LogText();
  int count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

RequestBuilder::RequestBuilder(int32_t codeValue, int32_t subcodeValue) {
  SetCodes(bytes_.data(), codeValue, subcodeValue);
}
RequestBuilder& RequestBuilder::Index2(int32_t v) {
  SetInt32At(bytes_.data(), request::kIndex2Offset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Date(double v) {
  SetDoubleAt(bytes_.data(), request::kDateOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Mark(double v) {
  SetDoubleAt(bytes_.data(), request::kMarkOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Days(uint16_t v) {
  StoreField(bytes_.data() + request::kDaysOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Flag(uint8_t v) {
  bytes_[request::kFlagOffset] = v;
  return *this;
}
RequestBuilder& RequestBuilder::PartFlags(bool title, bool memo, bool slots, bool first,
                                          bool second) {
  const bool flags[] = {title, memo, slots, first, second};
  for (size_t i = 0; i < 5; ++i) bytes_[request::kPartFlagsOffset + i] = flags[i] ? 1 : 0;
  return *this;
}
RequestBuilder& RequestBuilder::SlotId(int32_t v) {
  SetInt32At(bytes_.data(), request::kSlotIdOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::SlotFlag(uint8_t v) {
  bytes_[request::kSlotFlagOffset] = v;
  return *this;
}
RequestBuilder& RequestBuilder::SlotTime(const std::string& v) {
  store::WriteShortString(bytes_.data(), request::kSlotTime, v);
  return *this;
}
RequestBuilder& RequestBuilder::Text(const std::string& v) {
  store::WriteShortString(bytes_.data(), request::kText, v);
  return *this;
}

}  // namespace qv::service::test
