#include "feed/calendar.h"

#include <libical/ical.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/text_codec.h"
#include "platform/time.h"

namespace qv::feed {
namespace {

constexpr const char* kProductId = "-//Quorvane//Quorvane Server//EN";

icaltimetype DateValue(int year, int month, int day) {
  icaltimetype t = icaltime_null_date();
  t.year = year;
  t.month = month;
  t.day = day;
  t.is_date = 1;
  return t;
}

icaltimetype UtcValue(int64_t unixSeconds) {
  return icaltime_from_timet_with_zone(static_cast<time_t>(unixSeconds), 0,
                                       icaltimezone_get_utc_timezone());
}

// The characters of a UID: the alias with every byte outside [A-Za-z0-9-_.] as %XX.
std::string UidAlias(std::string_view alias) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : alias) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string DateText(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
  return text;
}

}  // namespace

std::optional<int> ParseSlotTime(std::string_view label) {
  while (!label.empty() && label.front() == ' ') label.remove_prefix(1);
  while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
  const size_t sep = label.find_first_of(".:");
  if (sep == std::string_view::npos || sep == 0 || sep > 2 || label.size() != sep + 3) {
    return std::nullopt;
  }
  int hours = 0, minutes = 0;
  for (size_t i = 0; i < label.size(); ++i) {
    if (i == sep) continue;
    const char c = label[i];
    if (c < '0' || c > '9') return std::nullopt;
    (i < sep ? hours : minutes) = (i < sep ? hours : minutes) * 10 + (c - '0');
  }
  if (minutes > 59) return std::nullopt;
  return hours * 60 + minutes;
}

std::string DayUid(std::string_view aliasUtf8, int year, int month, int day) {
  return "day-" + DateText(year, month, day) + "@" + UidAlias(aliasUtf8) + ".quorvane";
}

std::string SlotUid(std::string_view aliasUtf8, int year, int month, int day, int slot,
                    int32_t slotId) {
  // A slot id stays with its slot when slots move up or down; without one the place names it.
  if (slotId != 0) {
    return "slot-" + std::to_string(static_cast<uint32_t>(slotId)) + "@" + UidAlias(aliasUtf8) +
           ".quorvane";
  }
  return "slot-" + DateText(year, month, day) + "-" + std::to_string(slot) + "@" +
         UidAlias(aliasUtf8) + ".quorvane";
}

namespace {

// A text of a day as a feed may carry it: up to its first NUL (where the day's text ends, as
// everywhere else the record is read), without control characters, which calendar programs
// may reject or show as garbage (the tab is kept). UTF-8 in and out.
std::string FeedText(std::string_view utf8) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) continue;
    out += c;
  }
  return out;
}

// A libical component freed when it goes out of scope.
struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

std::string ComponentText(icalcomponent* component) {
  char* text = icalcomponent_as_ical_string_r(component);
  if (text == nullptr) throw std::runtime_error("libical: component not written");
  std::string out(text);
  std::free(text);
  return out;
}

constexpr std::string_view kCalendarEnd = "END:VCALENDAR\r\n";

}  // namespace

struct CalendarBuilder::Impl {
  Impl(const char* codePage) : decoder(codePage) {}
  platform::CodePageDecoder decoder;
  std::string alias;  // UTF-8
  SlotGrid grid;
  icaltimetype stamp{};
  size_t maxBytes = 0;
  bool full = false;
  // BEGIN:VCALENDAR, its properties and the VEVENTs written so far.
  std::string text;

  std::string Text(std::string_view raw) { return FeedText(decoder.ToUtf8(raw)); }
  Component NewEvent(const std::string& uid, const std::string& summary) {
    Component event(icalcomponent_new(ICAL_VEVENT_COMPONENT));
    if (!event) throw std::runtime_error("libical: no event");
    icalcomponent_add_property(event.get(), icalproperty_new_uid(uid.c_str()));
    icalcomponent_add_property(event.get(), icalproperty_new_dtstamp(stamp));
    icalcomponent_add_property(event.get(), icalproperty_new_lastmodified(stamp));
    icalcomponent_add_property(event.get(), icalproperty_new_summary(summary.c_str()));
    return event;
  }
};

CalendarBuilder::CalendarBuilder(std::string_view alias, const char* codePage, SlotGrid grid,
                                 int64_t modifiedUnixSeconds, size_t maxBytes)
    : impl_(std::make_unique<Impl>(codePage)) {
  impl_->alias = impl_->decoder.ToUtf8(alias);
  impl_->grid = grid;
  impl_->stamp = UtcValue(modifiedUnixSeconds);
  impl_->maxBytes = maxBytes;
  Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  if (!calendar) throw std::runtime_error("libical: no calendar");
  icalcomponent_add_property(calendar.get(), icalproperty_new_prodid(kProductId));
  icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
  icalcomponent_add_property(calendar.get(), icalproperty_new_calscale("GREGORIAN"));
  icalproperty* name = icalproperty_new_x(impl_->alias.c_str());
  icalproperty_set_x_name(name, "X-WR-CALNAME");
  icalcomponent_add_property(calendar.get(), name);
  // The calendar without events, cut before its last line: the events go in between.
  impl_->text = ComponentText(calendar.get());
  const size_t end = impl_->text.rfind(kCalendarEnd);
  if (end == std::string::npos) throw std::runtime_error("libical: calendar without its end");
  impl_->text.erase(end);
}

CalendarBuilder::~CalendarBuilder() = default;

bool CalendarBuilder::AddDay(wire::ConstDayBytes day) {
  Impl& im = *impl_;
  if (im.full) {
    ++daysLeftOut_;
    return false;
  }
  std::string dayText;
  int dayEvents = 0;
  const platform::LocalTime date = platform::DecodeDateTime(wire::DayKey(wire::DayDate(day)));

  const std::string title = im.Text(wire::Title(day));
  if (!title.empty()) {
    std::string description;
    auto addLine = [&](std::string_view raw) {
      const std::string line = im.Text(raw);
      if (line.empty()) return;
      if (!description.empty()) description += '\n';
      description += line;
    };
    // The memo: the four short strings whose lengths the blank day clears.
    for (size_t offset : wire::day::kMemoLengthOffsets) {
      addLine(wire::ReadShortString(day.data(), {offset, 255}));
    }
    for (auto list : {wire::day::LineList::First, wire::day::LineList::Second}) {
      for (int i = 0; i < wire::day::kLineCount; ++i) addLine(wire::Line(day, list, i));
    }
    Component event = im.NewEvent(DayUid(im.alias, date.year, date.month, date.day), title);
    icaltimetype start = DateValue(date.year, date.month, date.day);
    icaltimetype end = start;
    icaltime_adjust(&end, 1, 0, 0, 0);
    icalcomponent_add_property(event.get(), icalproperty_new_dtstart(start));
    icalcomponent_add_property(event.get(), icalproperty_new_dtend(end));
    if (!description.empty()) {
      icalcomponent_add_property(event.get(), icalproperty_new_description(description.c_str()));
    }
    dayText += ComponentText(event.get());
    ++dayEvents;
  }

  // Start of every slot: its label when that is a time, else its place in the grid.
  std::vector<std::optional<int>> labelled(wire::day::kSlotCount);
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    labelled[slot] = ParseSlotTime(wire::SlotTime(day, slot));
  }
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    const std::string text = im.Text(wire::SlotText(day, slot));
    if (text.empty()) continue;
    const int start = labelled[slot].value_or(im.grid.SlotMinutes(slot));
    int end = start + im.grid.StepMinutes();
    for (int next = slot + 1; next < wire::day::kSlotCount; ++next) {
      if (labelled[next] && *labelled[next] > start) {
        end = *labelled[next];
        break;
      }
    }
    Component event = im.NewEvent(
        SlotUid(im.alias, date.year, date.month, date.day, slot, wire::SlotId(day, slot)), text);
    icalcomponent_add_property(
        event.get(), icalproperty_new_dtstart(UtcValue(
                         platform::LocalToUnixSeconds(date.year, date.month, date.day, start))));
    icalcomponent_add_property(
        event.get(), icalproperty_new_dtend(UtcValue(
                         platform::LocalToUnixSeconds(date.year, date.month, date.day, end))));
    dayText += ComponentText(event.get());
    ++dayEvents;
  }

  if (im.text.size() + dayText.size() + kCalendarEnd.size() > im.maxBytes) {
    im.full = true;
    ++daysLeftOut_;
    return false;
  }
  im.text += dayText;
  events_ += dayEvents;
  return true;
}

std::string CalendarBuilder::Text() const {
  std::string out;
  out.reserve(impl_->text.size() + kCalendarEnd.size());
  out += impl_->text;
  out += kCalendarEnd;
  return out;
}

std::string CalendarBuilder::Take() {
  std::string out = std::move(impl_->text);
  out += kCalendarEnd;
  impl_->text.clear();
  impl_->full = true;
  return out;
}

}  // namespace qv::feed
