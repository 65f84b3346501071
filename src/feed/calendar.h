#pragma once
// A group's days as one iCalendar (RFC 5545) VCALENDAR, built with libical: an all-day event
// for each day with a title, a timed event for each slot with text. Texts are converted from
// the clients' code page to UTF-8; libical escapes and folds them. Each day's events are
// written out as text when the day is added, so a builder holds the text and one day's events,
// never the whole calendar as libical components, and the text is bounded by maxBytes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "wire/day_record.h"

namespace qv::feed {

// The group's grid of slots: slot i starts at TimeBegin + i * (Step + 1) / 2 hours (the blank
// day labels the even slots with the hours, the odd ones lie half-way).
struct SlotGrid {
  int32_t TimeBegin = 9;
  int32_t Step = 0;
  int StepMinutes() const { return (Step + 1) * 60; }
  int SlotMinutes(int slot) const { return TimeBegin * 60 + slot * StepMinutes() / 2; }
};

// " 9.00", "9:30", "10.15" to minutes after midnight; nothing for a label that is no time.
std::optional<int> ParseSlotTime(std::string_view label);

// The most text one calendar carries: a range of days filled to the brim (every slot with a
// long text) would otherwise make tens of megabytes per request.
constexpr size_t kMaxCalendarBytes = 4 << 20;

class CalendarBuilder {
 public:
  // alias is in the clients' code page; modifiedUnixSeconds stamps DTSTAMP and LAST-MODIFIED.
  CalendarBuilder(std::string_view alias, const char* codePage, SlotGrid grid,
                  int64_t modifiedUnixSeconds, size_t maxBytes = kMaxCalendarBytes);
  ~CalendarBuilder();
  CalendarBuilder(const CalendarBuilder&) = delete;
  CalendarBuilder& operator=(const CalendarBuilder&) = delete;

  // Adds the day's events; false (and nothing added) when they would take the text past
  // maxBytes, and for every later day as well.
  bool AddDay(wire::ConstDayBytes day);
  // The calendar as text (CRLF lines, folded).
  std::string Text() const;
  // The same text, moved out without a copy; the builder takes no more days.
  std::string Take();
  int Events() const { return events_; }
  // Days left out because the calendar was full.
  int DaysLeftOut() const { return daysLeftOut_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int events_ = 0;
  int daysLeftOut_ = 0;
};

// The UIDs of the events: stable across edits of the texts.
std::string DayUid(std::string_view aliasUtf8, int year, int month, int day);
std::string SlotUid(std::string_view aliasUtf8, int year, int month, int day, int slot,
                    int32_t slotId);

}  // namespace qv::feed
