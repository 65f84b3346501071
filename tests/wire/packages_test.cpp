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
  wire::RequestPackage p{};
  wire::SetCodes(p.data(), wire::code::kMark, 7);
  wire::SetInt32At(p.data(), wire::request::kIndex2Offset, -3);
  wire::SetDoubleAt(p.data(), wire::request::kDateOffset, 45000.5);
  wire::SetDoubleAt(p.data(), wire::request::kMarkOffset, 12.25);
  wire::StoreField<uint16_t>(p.data() + wire::request::kDaysOffset, 6);
  p[wire::request::kMarkFlagOffset] = 1;
  wire::SetInt32At(p.data(), wire::request::kSlotIdOffset, 0x7FFF0001);
  p[wire::request::kSlotFlagOffset] = 2;
  wire::WriteShortString(p.data(), wire::request::kSlotTime, "12.30");
  wire::WriteShortString(p.data(), wire::request::kText, std::string(255, 'x'));
  p[wire::request::kMemoOffset] = 9;

  EXPECT_EQ(wire::Int32At(p.data(), wire::request::kCodeOffset), 7001);
  EXPECT_EQ(wire::Int32At(p.data(), wire::request::kSubcodeOffset), 7);
  EXPECT_EQ(wire::Int32At(p.data(), wire::request::kIndex2Offset), -3);
  EXPECT_EQ(wire::DoubleAt(p.data(), wire::request::kDateOffset), 45000.5);
  EXPECT_EQ(wire::DoubleAt(p.data(), wire::request::kSourceDateOffset), 12.25);
  EXPECT_EQ(wire::LoadField<uint16_t>(p.data() + wire::request::kDaysOffset), 6);
  EXPECT_EQ(p[wire::request::kMarkFlagOffset], 1);
  EXPECT_EQ(wire::Int32At(p.data(), wire::request::kSlotIdOffset), 0x7FFF0001);
  EXPECT_EQ(p[wire::request::kSlotFlagOffset], 2);
  EXPECT_EQ(wire::ReadShortString(p.data(), wire::request::kSlotTime), "12.30");
  EXPECT_EQ(wire::ReadShortString(p.data(), wire::request::kText), std::string(255, 'x'));
  EXPECT_EQ(p[wire::request::kMemoOffset], 9);
}

TEST(SmallPackages, HelloFieldsAreDisjointAndStatusSlotTextsStayInTheirFields) {
  ExpectDisjoint({{wire::hello::kReservedOffset, wire::hello::kReservedSize, "reserved"},
                  {wire::hello::kUserName.offset, wire::hello::kUserName.Size(), "user"},
                  {wire::hello::kServer.offset, wire::hello::kServer.Size(), "server"},
                  {wire::hello::kFirstDateOffset, 8, "first date"}},
                 wire::request::kSize);

  // A user name longer than the slot's 50 characters is cut, and the host behind it survives.
  std::vector<uint8_t> slot(wire::status_slot::kSize, 0);
  wire::WriteShortString(slot.data(), wire::status_slot::kHostName, "host.example");
  wire::WriteShortString(slot.data(), wire::status_slot::kUserName, std::string(80, 'u'));
  EXPECT_EQ(wire::ReadShortString(slot.data(), wire::status_slot::kUserName).size(), 50u);
  EXPECT_EQ(wire::ReadShortString(slot.data(), wire::status_slot::kHostName), "host.example");
}

TEST(Codes, EditCodesAcknowledgmentsAndMailKinds) {
  EXPECT_EQ(wire::AcknowledgedCode(wire::code::kInsertSlot), wire::code::kRemoveSlot);
  EXPECT_EQ(wire::AcknowledgedCode(wire::code::kRemoveSlot), wire::code::kInsertSlot);
  EXPECT_EQ(wire::AcknowledgedCode(wire::code::kInsertSlotAlt), wire::code::kRemoveSlot);
  EXPECT_EQ(wire::AcknowledgedCode(wire::code::kEditTitle), wire::code::kEditTitle);
  EXPECT_EQ(wire::AcknowledgedCode(wire::code::kAssignSlotId), wire::code::kAssignSlotId);
  for (const int32_t edit :
       {wire::code::kEditTitle, wire::code::kEditMemo, wire::code::kEditSlot,
        wire::code::kEditFirstLine, wire::code::kReinsertSecondLine, wire::code::kAssignSlotId}) {
    EXPECT_TRUE(wire::IsRequestCode(edit)) << edit;
  }
  EXPECT_FALSE(wire::IsRequestCode(0));
  EXPECT_FALSE(wire::IsRequestCode(wire::code::kMaxRequest + 1));

  EXPECT_EQ(wire::mail::ClassOfKind(10), wire::mail::MailClass::Direct6100);
  EXPECT_EQ(wire::mail::ClassOfKind(11), wire::mail::MailClass::Direct6200);
  EXPECT_EQ(wire::mail::ClassOfKind(0x100 + 10), wire::mail::MailClass::Direct6100);
  EXPECT_EQ(wire::mail::ClassOfKind(12), wire::mail::MailClass::Stored);
  EXPECT_EQ(wire::mail::ClassOfKind(0), wire::mail::MailClass::Stored);

  EXPECT_EQ(wire::days_reply::Size(0), 24);
  EXPECT_EQ(wire::days_reply::Size(wire::days_reply::kMaxDays), wire::days_reply::kWeekReplySize);
}

}  // namespace
}  // namespace qv::wire
