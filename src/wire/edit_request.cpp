#include "wire/edit_request.h"

#include <cmath>

#include "wire/packages.h"

namespace qv::wire {
namespace {

namespace rq = service::request;

store::RequestPackage Blank(int32_t code, int32_t subcode, double date) {
  store::RequestPackage p{};
  service::SetCodes(p.data(), code, subcode);
  service::SetDoubleAt(p.data(), rq::kDateOffset, std::trunc(date));
  return p;
}

}  // namespace

store::RequestPackage TitleEdit(double date, std::string_view title) {
  store::RequestPackage p = Blank(kTitleEditCode, 0, date);
  store::WriteShortString(p.data(), rq::kText, title);
  return p;
}

store::RequestPackage MemoEdit(double date, const std::vector<std::string>& lines) {
  store::RequestPackage p = Blank(kMemoEditCode, 0, date);
  for (size_t i = 0; i < lines.size() && i < static_cast<size_t>(kMemoLines); ++i) {
    const store::ShortStringField field{rq::kMemoOffset + i * (kMemoLineCapacity + 1),
                                        kMemoLineCapacity};
    store::WriteShortString(p.data(), field, lines[i]);
  }
  return p;
}

store::RequestPackage SlotEdit(double date, int32_t slot, std::string_view time,
                               std::string_view text) {
  store::RequestPackage p = Blank(kSlotEditCode, slot, date);
  store::WriteShortString(p.data(), rq::kSlotTime, time);
  store::WriteShortString(p.data(), rq::kText, text);
  return p;
}

store::RequestPackage CopyDayRequest(double source, double target,
                                     const std::array<bool, 5>& parts) {
  store::RequestPackage p = Blank(service::code::kCopyDay, 0, target);
  service::SetDoubleAt(p.data(), rq::kMarkOffset, std::trunc(source));
  for (size_t i = 0; i < parts.size(); ++i) p[rq::kPartFlagsOffset + i] = parts[i] ? 1 : 0;
  return p;
}

std::vector<std::string> MemoLines(store::ConstDayBytes day) {
  std::vector<std::string> lines;
  for (int i = 0; i < kMemoLines; ++i) {
    const store::ShortStringField field{store::day::kMemoOffset + i * (kMemoLineCapacity + 1),
                                        kMemoLineCapacity};
    lines.emplace_back(store::ReadShortString(day.data(), field));
  }
  return lines;
}

}  // namespace qv::wire
