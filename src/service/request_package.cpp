#include "service/request_package.h"

#include <algorithm>
#include <cstring>

namespace qv::service {

Alignment LoadRequest(const uint8_t* payload, int32_t size, wire::RequestPackage& package) {
  package.fill(0);
  const int32_t available = std::clamp<int32_t>(size, 0, wire::request::kSize);
  if (available > 0) std::memcpy(package.data(), payload, static_cast<size_t>(available));
  // A code needs all four of its bytes; a shorter package is read as zero-padded.
  if (wire::IsRequestCode(wire::Int32At(package.data(), wire::request::kCodeOffset)))
    return Alignment::Aligned;

  package.fill(0);
  if (available < wire::request::kRealignShift) return Alignment::Incorrect;
  std::memcpy(package.data(), payload + wire::request::kRealignShift,
              static_cast<size_t>(available - wire::request::kRealignShift));
  const int32_t realigned = wire::Int32At(package.data(), wire::request::kCodeOffset);
  if (realigned < 0 || realigned > wire::code::kMaxRequest) return Alignment::Incorrect;
  return Alignment::Corrected;
}

void BuildRefusal(wire::RequestPackage& package) {
  wire::SetInt32At(package.data(), wire::request::kIndex2Offset,
                   wire::Int32At(package.data(), wire::request::kCodeOffset));
  wire::SetInt32At(package.data(), wire::request::kCodeOffset, wire::code::kRefusal);
}

void BuildHelloReply(wire::RequestPackage& package, std::string_view userName, double firstDate) {
  uint8_t* p = package.data();
  wire::SetCodes(p, wire::code::kRequest, wire::subcode::kHelloReply);
  std::memset(p + wire::hello::kReservedOffset, 0, wire::hello::kReservedSize);
  wire::WriteShortString(p, wire::hello::kUserName, userName);
  wire::WriteShortString(p, wire::hello::kServer, wire::hello::kServerText);
  wire::SetDoubleAt(p, wire::hello::kFirstDateOffset, firstDate);
}

void ResetChangeNotice(wire::RequestPackage& notice, const wire::RequestPackage& request) {
  uint8_t* n = notice.data();
  wire::SetCodes(n, wire::Int32At(request.data(), wire::request::kCodeOffset),
                 wire::Int32At(request.data(), wire::request::kSubcodeOffset));
  wire::SetDoubleAt(n, wire::request::kDateOffset, 0);
  wire::SetInt32At(n, wire::request::kSlotIdOffset, 0);
  n[wire::request::kSlotFlagOffset] = 0;
}

void BuildAcknowledgment(wire::RequestPackage& notice, const wire::RequestPackage& request) {
  uint8_t* n = notice.data();
  const uint8_t* r = request.data();
  const int32_t requestCode = wire::Int32At(r, wire::request::kCodeOffset);
  switch (requestCode) {
    case wire::code::kInsertSlot:
    case wire::code::kInsertSlotAlt:
      n[wire::request::kSlotTime.offset] = 0;
      n[wire::request::kText.offset] = 0;
      break;
    case wire::code::kRemoveSlot:
      wire::SetInt32At(n, wire::request::kSlotIdOffset,
                       wire::Int32At(r, wire::request::kSlotIdOffset));
      n[wire::request::kSlotFlagOffset] = r[wire::request::kSlotFlagOffset];
      break;
    default:
      break;
  }
  wire::SetCodes(n, wire::code::kAcknowledgment, wire::Int32At(r, wire::request::kSubcodeOffset));
  wire::SetInt32At(n, wire::request::kIndex2Offset, wire::AcknowledgedCode(requestCode));
  wire::SetDoubleAt(n, wire::request::kDateOffset, wire::DoubleAt(r, wire::request::kDateOffset));
  n[wire::request::kMarkFlagOffset] = r[wire::request::kMarkFlagOffset];
}

}  // namespace qv::service
