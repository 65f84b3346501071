#include "feed/page_codec.h"

#include <cmath>
#include <cstdio>

#include "platform/text_codec.h"
#include "platform/time.h"
#include "wire/edit_request.h"
#include "wire/packages.h"

namespace qv::feed {
namespace {

namespace rq = wire::request;

int32_t Int32(std::span<const uint8_t> bytes, size_t offset) {
  return offset + 4 <= bytes.size() ? wire::LoadField<int32_t>(bytes.data() + offset) : 0;
}

double Double(std::span<const uint8_t> bytes, size_t offset) {
  return offset + 8 <= bytes.size() ? wire::LoadField<double>(bytes.data() + offset) : 0;
}

bool IsDayEdit(int32_t code) {
  switch (code) {
    case 2:
    case 3:
    case 4:
    case 6:
    case 7:
    case 16:
    case 17:
    case 26:
    case 27:
    case 40:
    case 41:
    case 42:
    case 51:
    case wire::code::kSlotIdAssigned:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string DateText(double date) {
  return platform::FormatDateTime(std::trunc(date), "yyyy-mm-dd");
}

std::optional<double> ParseDate(std::string_view text) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 ||
      std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) {
    return std::nullopt;
  }
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  platform::LocalTime t;
  t.year = y;
  t.month = m;
  t.day = d;
  const double date = platform::EncodeDateTime(t);
  if (DateText(date) != text) return std::nullopt;  // 2025-02-30 and the like
  return date;
}

std::string PageCodec::ToUtf8(std::string_view office) const {
  return platform::CodePageToUtf8(office, codePage_.c_str());
}

std::string PageCodec::ToOffice(std::string_view utf8) const {
  return platform::Utf8ToCodePage(utf8, codePage_.c_str());
}

Json PageCodec::Day(wire::ConstDayBytes day) const {
  Json out;
  out["date"] = DateText(wire::DayDate(day));
  out["title"] = ToUtf8(wire::Title(day));
  Json memo = Json::array();
  for (const std::string& line : wire::MemoLines(day)) memo.push_back(ToUtf8(line));
  out["memo"] = memo;
  int lastSlot = -1;
  for (int i = 0; i < wire::day::kSlotCount; ++i) {
    if (!wire::SlotTime(day, i).empty() || !wire::SlotText(day, i).empty()) lastSlot = i;
  }
  Json slots = Json::array();
  for (int i = 0; i <= lastSlot; ++i) {
    slots.push_back(
        {{"time", ToUtf8(wire::SlotTime(day, i))}, {"text", ToUtf8(wire::SlotText(day, i))}});
  }
  out["slots"] = slots;
  for (const auto& [name, list] : {std::pair{"first", wire::day::LineList::First},
                                   std::pair{"second", wire::day::LineList::Second}}) {
    int last = -1;
    for (int i = 0; i < wire::day::kLineCount; ++i) {
      if (!wire::Line(day, list, i).empty()) last = i;
    }
    Json lines = Json::array();
    for (int i = 0; i <= last; ++i) lines.push_back(ToUtf8(wire::Line(day, list, i)));
    out[name] = lines;
  }
  return out;
}

Json PageCodec::StatusSlot(const uint8_t* slot) const {
  namespace ss = wire::status_slot;
  return {{"name", ToUtf8(wire::ReadShortString(slot, ss::kUserName))},
          {"host", ToUtf8(wire::ReadShortString(slot, ss::kHostName))},
          {"online", wire::LoadField<int32_t>(slot + ss::kOnLineOffset) != 0}};
}

Json PageCodec::Package(std::span<const uint8_t> p) const {
  const int32_t code = Int32(p, 0);
  if (code == wire::code::kStatusTable) {
    Json users = Json::array();
    for (size_t at = 4; at + wire::status_slot::kSize <= p.size(); at += wire::status_slot::kSize) {
      users.push_back(StatusSlot(p.data() + at));
    }
    return {{"type", "online"}, {"users", users}};
  }
  if (code == wire::code::kReply) {
    const int32_t subcode = Int32(p, 4);
    if (subcode == wire::subcode::kStatusSlot &&
        p.size() >= static_cast<size_t>(wire::status_slot::kPackageSize)) {
      Json slot = StatusSlot(p.data() + wire::status_slot::kPackageHeaderSize);
      slot["type"] = "presence";
      return slot;
    }
    if (subcode == wire::subcode::kWeekReply) {
      Json days = Json::array();
      for (size_t at = wire::days_reply::kHeaderSize; at + wire::kDayRecordSize <= p.size();
           at += wire::kDayRecordSize) {
        days.push_back(Day(wire::ConstDayBytes(p.data() + at, wire::kDayRecordSize)));
      }
      return {{"type", "days"}, {"days", days}};
    }
    return nullptr;
  }
  if (!IsDayEdit(code) || p.size() < static_cast<size_t>(rq::kSize)) return nullptr;
  const std::string date = DateText(Double(p, rq::kDateOffset));
  if (code == wire::kTitleEditCode) {
    return {{"type", "title"},
            {"date", date},
            {"text", ToUtf8(wire::ReadShortString(p.data(), rq::kText))}};
  }
  if (code == wire::kMemoEditCode) {
    Json lines = Json::array();
    for (int i = 0; i < wire::kMemoLines; ++i) {
      const wire::ShortStringField field{rq::kMemoOffset + i * (wire::kMemoLineCapacity + 1),
                                         wire::kMemoLineCapacity};
      // The store takes 2047 bytes of the memo: the last line's last character stays behind.
      std::string_view line = wire::ReadShortString(p.data(), field);
      if (i == wire::kMemoLines - 1 && line.size() == wire::kMemoLineCapacity) {
        line.remove_suffix(1);
      }
      lines.push_back(ToUtf8(line));
    }
    return {{"type", "memo"}, {"date", date}, {"lines", lines}};
  }
  if (code == wire::kSlotEditCode) {
    return {{"type", "slot"},
            {"date", date},
            {"slot", Int32(p, rq::kSubcodeOffset)},
            {"time", ToUtf8(wire::ReadShortString(p.data(), rq::kSlotTime))},
            {"text", ToUtf8(wire::ReadShortString(p.data(), rq::kText))}};
  }
  return {{"type", "changed"}, {"date", date}};
}

}  // namespace qv::feed
