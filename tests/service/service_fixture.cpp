#include "service_fixture.h"

#include "support/service_server.h"

namespace qv::service::test {
ServiceFixture::ServiceFixture() : server_(dir_.Path(), loop_, front_) {
  qv::test::BuildServiceServer(server_, dir_);
}

ReplySender ServiceFixture::Recorder() {
  return [this](state::TMyNameUser& target, const uint8_t* data, int32_t size,
                const std::string& host, int scope) {
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
  wire::SetCodes(bytes_.data(), codeValue, subcodeValue);
}
RequestBuilder& RequestBuilder::Index2(int32_t v) {
  wire::SetInt32At(bytes_.data(), wire::request::kIndex2Offset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Date(double v) {
  wire::SetDoubleAt(bytes_.data(), wire::request::kDateOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Mark(double v) {
  wire::SetDoubleAt(bytes_.data(), wire::request::kMarkOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Days(uint16_t v) {
  wire::StoreField(bytes_.data() + wire::request::kDaysOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::Flag(uint8_t v) {
  bytes_[wire::request::kMarkFlagOffset] = v;
  return *this;
}
RequestBuilder& RequestBuilder::PartFlags(bool title, bool memo, bool slots, bool first,
                                          bool second) {
  const bool flags[] = {title, memo, slots, first, second};
  for (size_t i = 0; i < 5; ++i) bytes_[wire::request::kPartFlagsOffset + i] = flags[i] ? 1 : 0;
  return *this;
}
RequestBuilder& RequestBuilder::SlotId(int32_t v) {
  wire::SetInt32At(bytes_.data(), wire::request::kSlotIdOffset, v);
  return *this;
}
RequestBuilder& RequestBuilder::SlotFlag(uint8_t v) {
  bytes_[wire::request::kSlotFlagOffset] = v;
  return *this;
}
RequestBuilder& RequestBuilder::SlotTime(const std::string& v) {
  wire::WriteShortString(bytes_.data(), wire::request::kSlotTime, v);
  return *this;
}
RequestBuilder& RequestBuilder::Text(const std::string& v) {
  wire::WriteShortString(bytes_.data(), wire::request::kText, v);
  return *this;
}

}  // namespace qv::service::test
