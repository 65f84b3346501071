#pragma once
// Builds the 2351-byte requests the record store reads.
#include <cstring>
#include <string_view>

#include "wire/day_record.h"
#include "wire/request_fields.h"

namespace qv::store::test {

class Request {
 public:
  explicit Request(double date) {
    wire::StoreField(bytes_.data() + wire::request::kDateOffset, date);
  }
  Request& Text(std::string_view text) {
    wire::WriteShortString(bytes_.data(), wire::request::kText, text);
    return *this;
  }
  Request& Time(std::string_view time) {  // the slot time, or the mode of a list edit
    wire::WriteShortString(bytes_.data(), wire::request::kSlotTime, time);
    return *this;
  }
  Request& Flag(uint8_t flag) {
    bytes_[wire::request::kSlotFlagOffset] = flag;
    return *this;
  }
  Request& SlotId(int32_t id) {
    wire::StoreField(bytes_.data() + wire::request::kSlotIdOffset, id);
    return *this;
  }
  Request& Memo(uint8_t fill) {
    std::memset(bytes_.data() + wire::request::kMemoOffset, fill, wire::day::kMemoEditSize);
    return *this;
  }
  Request& Byte(size_t offset, uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  const uint8_t* data() const { return bytes_.data(); }

 private:
  wire::RequestPackage bytes_{};
};

}  // namespace qv::store::test
