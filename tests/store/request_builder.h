#pragma once
// Builds the 2351-byte requests the record store reads.
#include <cstring>
#include <string_view>

#include "wire/day_record.h"
#include "wire/request_fields.h"

namespace qv::store::test {

class Request {
 public:
  explicit Request(double date) { StoreField(bytes_.data() + request::kDateOffset, date); }
  Request& Text(std::string_view text) {
    WriteShortString(bytes_.data(), request::kText, text);
    return *this;
  }
  Request& Time(std::string_view time) {  // the slot time, or the mode of a list edit
    WriteShortString(bytes_.data(), request::kSlotTime, time);
    return *this;
  }
  Request& Flag(uint8_t flag) {
    bytes_[request::kFlagOffset] = flag;
    return *this;
  }
  Request& SlotId(int32_t id) {
    StoreField(bytes_.data() + request::kSlotIdOffset, id);
    return *this;
  }
  Request& Memo(uint8_t fill) {
    std::memset(bytes_.data() + request::kMemoOffset, fill, request::kMemoSize);
    return *this;
  }
  Request& Byte(size_t offset, uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  const uint8_t* data() const { return bytes_.data(); }

 private:
  RequestPackage bytes_{};
};

}  // namespace qv::store::test
