#pragma once
// The day record: 55766 bytes, one calendar day of a group, the same on disk and on the wire.
#include <array>
#include <cstdint>

namespace qv::store {

constexpr int32_t kDayRecordSize = 55766;
constexpr int32_t kRequestSize = 2351;  // data request package and request-shaped buffers

using DayRecord = std::array<uint8_t, kDayRecordSize>;
using RequestPackage = std::array<uint8_t, kRequestSize>;

}  // namespace qv::store
