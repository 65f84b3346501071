// The request package and the small packages: fields written together read back apart, and
// texts stay inside their fields.
#include "wire/packages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::wire {
namespace {

struct Field {
  size_t offset;
  size_t size;
  const char* name;
};

// Fails when two fields share a byte or a field ends past size.
void ExpectDisjoint(const std::vector<Field>& fields, size_t size) {
  std::vector<const char*> owner(size, nullptr);
  for (const Field& f : fields) {
    ASSERT_LE(f.offset + f.size, size) << f.name << " ends past the package";
    for (size_t i = f.offset; i < f.offset + f.size; ++i) {
      EXPECT_EQ(owner[i], nullptr) << f.name << " overlaps " << owner[i] << " at " << i;
      owner[i] = f.name;
    }
  }
}

TEST(RequestLayout, FieldsWrittenTogetherReadBackApart) {
  RequestPackage p{};
  SetCodes(p.data(), code::kMark, 7);
  SetInt32At(p.data(), request::kIndex2Offset, -3);
  SetDoubleAt(p.data(), request::kDateOffset, 45000.5);
  SetDoubleAt(p.data(), request::kMarkOffset, 12.25);
  StoreField<uint16_t>(p.data() + request::kDaysOffset, 6);
  p[request::kMarkFlagOffset] = 1;
  SetInt32At(p.data(), request::kSlotIdOffset, 0x7FFF0001);
  p[request::kSlotFlagOffset] = 2;
  WriteShortString(p.data(), request::kSlotTime, "12.30");
  WriteShortString(p.data(), request::kText, std::string(255, 'x'));
  p[request::kMemoOffset] = 9;

  EXPECT_EQ(Int32At(p.data(), request::kCodeOffset), 7001);
  EXPECT_EQ(Int32At(p.data(), request::kSubcodeOffset), 7);
  EXPECT_EQ(Int32At(p.data(), request::kIndex2Offset), -3);
  EXPECT_EQ(DoubleAt(p.data(), request::kDateOffset), 45000.5);
  EXPECT_EQ(DoubleAt(p.data(), request::kSourceDateOffset), 12.25);
  EXPECT_EQ(LoadField<uint16_t>(p.data() + request::kDaysOffset), 6);
  EXPECT_EQ(p[request::kMarkFlagOffset], 1);
  EXPECT_EQ(Int32At(p.data(), request::kSlotIdOffset), 0x7FFF0001);
  EXPECT_EQ(p[request::kSlotFlagOffset], 2);
  EXPECT_EQ(ReadShortString(p.data(), request::kSlotTime), "12.30");
  EXPECT_EQ(ReadShortString(p.data(), request::kText), std::string(255, 'x'));
  EXPECT_EQ(p[request::kMemoOffset], 9);
}

TEST(SmallPackages, HelloFieldsAreDisjointAndStatusSlotTextsStayInTheirFields) {
  ExpectDisjoint({{hello::kReservedOffset, hello::kReservedSize, "reserved"},
                  {hello::kUserName.offset, hello::kUserName.Size(), "user"},
                  {hello::kServer.offset, hello::kServer.Size(), "server"},
                  {hello::kFirstDateOffset, 8, "first date"}},
                 request::kSize);

  // A user name longer than the slot's 50 characters is cut, and the host behind it survives.
  std::vector<uint8_t> slot(status_slot::kSize, 0);
  WriteShortString(slot.data(), status_slot::kHostName, "host.example");
  WriteShortString(slot.data(), status_slot::kUserName, std::string(80, 'u'));
  EXPECT_EQ(ReadShortString(slot.data(), status_slot::kUserName).size(), 50u);
  EXPECT_EQ(ReadShortString(slot.data(), status_slot::kHostName), "host.example");
}

TEST(Codes, EditCodesAcknowledgmentsAndMailKinds) {
  EXPECT_EQ(AcknowledgedCode(code::kInsertSlot), code::kRemoveSlot);
  EXPECT_EQ(AcknowledgedCode(code::kRemoveSlot), code::kInsertSlot);
  EXPECT_EQ(AcknowledgedCode(code::kInsertSlotAlt), code::kRemoveSlot);
  EXPECT_EQ(AcknowledgedCode(code::kEditTitle), code::kEditTitle);
  EXPECT_EQ(AcknowledgedCode(code::kAssignSlotId), code::kAssignSlotId);
  for (const int32_t edit :
       {code::kEditTitle, code::kEditMemo, code::kEditSlot, code::kEditFirstLine,
        code::kReinsertSecondLine, code::kAssignSlotId}) {
    EXPECT_TRUE(IsRequestCode(edit)) << edit;
  }
  EXPECT_FALSE(IsRequestCode(0));
  EXPECT_FALSE(IsRequestCode(code::kMaxRequest + 1));

  EXPECT_EQ(mail::ClassOfKind(10), mail::MailClass::Direct6100);
  EXPECT_EQ(mail::ClassOfKind(11), mail::MailClass::Direct6200);
  EXPECT_EQ(mail::ClassOfKind(0x100 + 10), mail::MailClass::Direct6100);
  EXPECT_EQ(mail::ClassOfKind(12), mail::MailClass::Stored);
  EXPECT_EQ(mail::ClassOfKind(0), mail::MailClass::Stored);

  EXPECT_EQ(days_reply::Size(0), 24);
  EXPECT_EQ(days_reply::Size(days_reply::kMaxDays), days_reply::kWeekReplySize);
}

}  // namespace
}  // namespace qv::wire
