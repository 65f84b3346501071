#include "service/request_package.h"

#include <algorithm>
#include <cstring>

namespace qv::service {

Alignment LoadRequest(const uint8_t* payload, int32_t size, RequestPackage& package) {
  package.fill(0);
  const int32_t available = std::clamp<int32_t>(size, 0, request::kSize);
  if (available > 0) std::memcpy(package.data(), payload, static_cast<size_t>(available));
  // A code needs all four of its bytes; a shorter package is read as zero-padded.
  if (IsRequestCode(Int32At(package.data(), request::kCodeOffset))) return Alignment::Aligned;

  package.fill(0);
  if (available < request::kRealignShift) return Alignment::Incorrect;
  std::memcpy(package.data(), payload + request::kRealignShift,
              static_cast<size_t>(available - request::kRealignShift));
  const int32_t realigned = Int32At(package.data(), request::kCodeOffset);
  if (realigned < 0 || realigned > code::kMaxRequest) return Alignment::Incorrect;
  return Alignment::Corrected;
}

void BuildRefusal(RequestPackage& package) {
  SetInt32At(package.data(), request::kIndex2Offset, Int32At(package.data(), request::kCodeOffset));
  SetInt32At(package.data(), request::kCodeOffset, code::kRefusal);
}

void BuildHelloReply(RequestPackage& package, std::string_view userName, double firstDate) {
  uint8_t* p = package.data();
  SetCodes(p, code::kRequest, subcode::kHelloReply);
  std::memset(p + hello::kReservedOffset, 0, hello::kReservedSize);
  store::WriteShortString(p, hello::kUserName, userName);
  store::WriteShortString(p, hello::kServer, hello::kServerText);
  SetDoubleAt(p, hello::kFirstDateOffset, firstDate);
}

void ResetChangeNotice(RequestPackage& notice, const RequestPackage& request) {
  uint8_t* n = notice.data();
  SetCodes(n, Int32At(request.data(), request::kCodeOffset),
           Int32At(request.data(), request::kSubcodeOffset));
  SetDoubleAt(n, request::kDateOffset, 0);
  SetInt32At(n, request::kSlotIdOffset, 0);
  n[request::kSlotFlagOffset] = 0;
}

void BuildAcknowledgment(RequestPackage& notice, const RequestPackage& request) {
  uint8_t* n = notice.data();
  const uint8_t* r = request.data();
  const int32_t requestCode = Int32At(r, request::kCodeOffset);
  switch (requestCode) {
    case code::kInsertSlot:
    case code::kInsertSlotAlt:
      n[request::kSlotTime.offset] = 0;
      n[request::kText.offset] = 0;
      break;
    case code::kRemoveSlot:
      SetInt32At(n, request::kSlotIdOffset, Int32At(r, request::kSlotIdOffset));
      n[request::kSlotFlagOffset] = r[request::kSlotFlagOffset];
      break;
    default:
      break;
  }
  SetCodes(n, code::kAcknowledgment, Int32At(r, request::kSubcodeOffset));
  SetInt32At(n, request::kIndex2Offset, AcknowledgedCode(requestCode));
  SetDoubleAt(n, request::kDateOffset, DoubleAt(r, request::kDateOffset));
  n[request::kFlagOffset] = r[request::kFlagOffset];
}

}  // namespace qv::service
