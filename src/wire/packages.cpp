#include "wire/packages.h"

namespace qv::wire {

mail::MailClass mail::ClassOfKind(int32_t kind) {
  switch (static_cast<uint8_t>(kind & 0xFF)) {
    case kKindDirect6100:
      return MailClass::Direct6100;
    case kKindDirect6200:
      return MailClass::Direct6200;
    default:
      return MailClass::Stored;
  }
}

int32_t AcknowledgedCode(int32_t requestCode) {
  switch (requestCode) {
    case code::kInsertSlot:
    case code::kInsertSlotAlt:
      return code::kRemoveSlot;
    case code::kRemoveSlot:
      return code::kInsertSlot;
    default:
      return requestCode;
  }
}

}  // namespace qv::wire
