#include "wire/edit_request.h"

#include <cmath>

#include "wire/packages.h"

namespace qv::wire {
namespace {

namespace rq = request;

RequestPackage Blank(int32_t code, int32_t subcode, double date) {
  RequestPackage p{};
  SetCodes(p.data(), code, subcode);
  SetDoubleAt(p.data(), rq::kDateOffset, std::trunc(date));
  return p;
}

}  // namespace

RequestPackage TitleEdit(double date, std::string_view title) {
  RequestPackage p = Blank(kTitleEditCode, 0, date);
  WriteShortString(p.data(), rq::kText, title);
  return p;
}

RequestPackage MemoEdit(double date, const std::vector<std::string>& lines) {
  RequestPackage p = Blank(kMemoEditCode, 0, date);
  for (size_t i = 0; i < lines.size() && i < static_cast<size_t>(kMemoLines); ++i) {
    const ShortStringField field{rq::kMemoOffset + i * (kMemoLineCapacity + 1), kMemoLineCapacity};
    WriteShortString(p.data(), field, lines[i]);
  }
  return p;
}

RequestPackage SlotEdit(double date, int32_t slot, std::string_view time, std::string_view text) {
  RequestPackage p = Blank(kSlotEditCode, slot, date);
  WriteShortString(p.data(), rq::kSlotTime, time);
  WriteShortString(p.data(), rq::kText, text);
  return p;
}

RequestPackage CopyDayRequest(double source, double target, const std::array<bool, 5>& parts) {
  RequestPackage p = Blank(code::kCopyDay, 0, target);
  SetDoubleAt(p.data(), rq::kMarkOffset, std::trunc(source));
  for (size_t i = 0; i < parts.size(); ++i) p[rq::kPartFlagsOffset + i] = parts[i] ? 1 : 0;
  return p;
}

std::vector<std::string> MemoLines(ConstDayBytes day) {
  std::vector<std::string> lines;
  for (int i = 0; i < kMemoLines; ++i) {
    const ShortStringField field{day::kMemoOffset + i * (kMemoLineCapacity + 1), kMemoLineCapacity};
    lines.emplace_back(ReadShortString(day.data(), field));
  }
  return lines;
}

}  // namespace qv::wire
