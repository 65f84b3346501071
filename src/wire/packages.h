#pragma once
// Every package inside a frame: the data request (2351 bytes) and the replies built from it,
// the days reply, the user status slot, the mail package and the mail notice, with their codes.
// All integers are little-endian; a short string is a length byte followed by its capacity.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire/day_record.h"
#include "wire/request_fields.h"
#include "wire/short_string.h"

namespace qv::wire {

// ---- Frames: int32 length, then the payload ---------------------------------------------------
namespace frame {
constexpr int32_t kHeaderSize = 4;
constexpr int32_t kMaxInMemoryPayload = 524288;   // larger payloads are spooled; one receive step
constexpr int32_t kMisalignedHeader = 154075136;  // 00 00 2F 09: a 2351 header two bytes late
constexpr int32_t kMisalignmentShift = 2;
}  // namespace frame

// ---- Package codes (offset 0) and subcodes (offset 4) ----------------------------------------
namespace code {
constexpr int32_t kMinRequest = 1;      // a data request's code lies in 1..16384,
constexpr int32_t kMaxRequest = 16384;  // else the package is taken as shifted by two bytes
constexpr int32_t kCopyDay = 50;
constexpr int32_t kSlotIdAssigned = 52;  // to the other hosts: a slot id was assigned
constexpr int32_t kRequest = 1000;       // hello, days, fetch mail, slot id (by subcode)
constexpr int32_t kReply = 2000;         // days, week, status slot, slot id, poll answer
constexpr int32_t kAcknowledgment = 3000;
constexpr int32_t kMail = 4000;
constexpr int32_t kNetworkReport = 5000;  // client to server: error in network settings
constexpr int32_t kStatusTable = 5000;    // server to client: the user status table
constexpr int32_t kMailWaiting = 6000;
constexpr int32_t kMailCount = 6001;
constexpr int32_t kRefusal = 7000;
constexpr int32_t kMark = 7001;
constexpr int32_t kPoll = 7002;

// Edit codes that change one day (the record store applies them); 42 is acknowledged like 40.
constexpr int32_t kEditTitle = 2;
constexpr int32_t kEditMemo = 3;
constexpr int32_t kEditSlot = 4;
constexpr int32_t kEditFirstLine = 6;
constexpr int32_t kEditSecondLine = 7;
constexpr int32_t kRemoveFirstLine = 16;
constexpr int32_t kRemoveSecondLine = 17;
constexpr int32_t kReinsertFirstLine = 26;
constexpr int32_t kReinsertSecondLine = 27;
constexpr int32_t kInsertSlot = 40;
constexpr int32_t kRemoveSlot = 41;
constexpr int32_t kInsertSlotAlt = 42;
constexpr int32_t kAssignSlotId = 51;
}  // namespace code

namespace subcode {
constexpr int32_t kHello = 1;          // 1000/1
constexpr int32_t kHelloReply = 2;     // 1000/2
constexpr int32_t kDays = 3;           // 1000/3
constexpr int32_t kFetchMail = 5;      // 1000/5
constexpr int32_t kSlotId = 6;         // 1000/6
constexpr int32_t kDaysReply = 1;      // 2000/1
constexpr int32_t kWeekReply = 2;      // 2000/2
constexpr int32_t kStatusSlot = 3;     // 2000/3
constexpr int32_t kSlotIdReply = 4;    // 2000/4
constexpr int32_t kPollAnswer = 7002;  // 2000/7002
}  // namespace subcode

// ---- Hello reply (1000/2): the hello request with these fields -------------------------------
namespace hello {
constexpr size_t kReservedOffset = 41;  // 41..46, zeroed
constexpr size_t kReservedSize = 6;
constexpr ShortStringField kUserName{47, 255};
constexpr ShortStringField kServer{303, 255};
constexpr std::string_view kServerText = "SERVER";
constexpr size_t kFirstDateOffset = 560;  // double: the group's FirstDate
static_assert(kReservedOffset + kReservedSize == kUserName.offset);
static_assert(kServer.offset + kServer.Size() <= kFirstDateOffset);
static_assert(kFirstDateOffset + 8 <= static_cast<size_t>(request::kSize));
}  // namespace hello

// ---- Days reply (2000/1, 2000/2): 24-byte header, then day records ---------------------------
namespace days_reply {
constexpr size_t kHeaderSize = 24;
constexpr size_t kDateOffset = 12;          // double: first date read
constexpr size_t kCountOffset = 20;         // int32: number of days (subcode 1)
constexpr int kMaxDays = 7;                 // a days reply holds at most a week
constexpr int32_t kWeekReplySize = 390386;  // 2000/2: always seven days
static_assert(kHeaderSize == 24 && kCountOffset + 4 == kHeaderSize);
static_assert(kWeekReplySize == kHeaderSize + kMaxDays * kDayRecordSize);
constexpr int32_t Size(int days) {
  return static_cast<int32_t>(kHeaderSize) + days * kDayRecordSize;
}
}  // namespace days_reply

// ---- Poll answer (2000/7002): the first 8 bytes ----------------------------------------------
constexpr int32_t kPollAnswerSize = 8;

// ---- User status slot (86 bytes) and its package 2000/3 (94 bytes) ---------------------------
namespace status_slot {
constexpr size_t kOnLineOffset = 0;  // int32: 1 while the user's session is up
constexpr ShortStringField kUserName{4, 50};
constexpr ShortStringField kHostName{55, 30};
constexpr int32_t kSize = 86;
constexpr int32_t kPackageHeaderSize = 8;  // int32 2000, int32 3
constexpr int32_t kPackageSize = kPackageHeaderSize + kSize;
static_assert(kUserName.offset + kUserName.Size() == kHostName.offset);
static_assert(kHostName.offset + kHostName.Size() == static_cast<size_t>(kSize));
static_assert(kSize == 86 && kPackageSize == 94);
}  // namespace status_slot

// ---- Small mail packages to the client -------------------------------------------------------
constexpr int32_t kMailWaitingSize = 4;  // int32 6000
constexpr int32_t kMailCountSize = 8;    // int32 6001, int32 count

// ---- Mail package (code 4000; at least 1056 bytes) -------------------------------------------
namespace mail {
constexpr size_t kKindOffset = 4;  // int32; only its low byte is examined
constexpr uint8_t kKindDirect6100 = 10;
constexpr uint8_t kKindDirect6200 = 11;
constexpr ShortStringField kAddress{32, 255};
constexpr ShortStringField kSender{288, 255};
constexpr int32_t kHeaderSize = 1056;
constexpr size_t kLongAddressLengthOffset = 1056;  // int32, only with the marker
constexpr size_t kLongAddressOffset = 1060;
constexpr std::string_view kLongAddressMarker = "LONG@@ADDRESS";
constexpr std::string_view kAddressSeparator = ",";
static_assert(kAddress.offset + kAddress.Size() == kSender.offset);
static_assert(kSender.offset + kSender.Size() + 512 == static_cast<size_t>(kHeaderSize));
static_assert(kLongAddressLengthOffset + 4 == kLongAddressOffset);

// The class of a mail package: stored mail, or one of the two direct kinds.
enum class MailClass : int32_t { Stored = 6000, Direct6100 = 6100, Direct6200 = 6200 };
MailClass ClassOfKind(int32_t kind);
}  // namespace mail

// ---- Mail notice (249 bytes, the records of a mailbox file) ----------------------------------
namespace notice {
constexpr size_t kOneOffset = 0;   // int32 1
constexpr size_t kZeroOffset = 4;  // int32 0
constexpr ShortStringField kSenderName{8, 50};
constexpr ShortStringField kSenderHost{59, 30};
constexpr ShortStringField kMessageFile{90, 30};
constexpr size_t kTailOffset = 121;  // 128 zero bytes
constexpr size_t kTailSize = 128;
constexpr int32_t kSize = 249;
static_assert(kSenderName.offset + kSenderName.Size() == kSenderHost.offset);
static_assert(kSenderHost.offset + kSenderHost.Size() == kMessageFile.offset);
static_assert(kMessageFile.offset + kMessageFile.Size() == kTailOffset);
static_assert(kTailOffset + kTailSize == static_cast<size_t>(kSize));
}  // namespace notice

// ---- Helpers on raw package bytes -------------------------------------------------------------
inline int32_t Int32At(const uint8_t* package, size_t offset) {
  return LoadField<int32_t>(package + offset);
}
inline void SetInt32At(uint8_t* package, size_t offset, int32_t value) {
  StoreField(package + offset, value);
}
inline double DoubleAt(const uint8_t* package, size_t offset) {
  return LoadField<double>(package + offset);
}
inline void SetDoubleAt(uint8_t* package, size_t offset, double value) {
  StoreField(package + offset, value);
}
// Code and subcode (offsets 0 and 4) in one step.
inline void SetCodes(uint8_t* package, int32_t codeValue, int32_t subcodeValue) {
  SetInt32At(package, request::kCodeOffset, codeValue);
  SetInt32At(package, request::kSubcodeOffset, subcodeValue);
}

inline bool IsRequestCode(int32_t value) {
  return value >= code::kMinRequest && value <= code::kMaxRequest;
}

// The code the acknowledgment carries at offset 8 for a request code: 40 -> 41, 41 -> 40,
// 42 -> 41, any other code unchanged.
int32_t AcknowledgedCode(int32_t requestCode);

}  // namespace qv::wire
