#pragma once
// A group's days as one iCalendar (RFC 5545) VCALENDAR, built with libical: an all-day event
// for each day with a title, a timed event for each slot with text. Texts are converted from
// the clients' code page to UTF-8; libical escapes and folds them.
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

class CalendarBuilder {
 public:
  // alias is in the clients' code page; modifiedUnixSeconds stamps DTSTAMP and LAST-MODIFIED.
  CalendarBuilder(std::string_view alias, const char* codePage, SlotGrid grid,
                  int64_t modifiedUnixSeconds);
  ~CalendarBuilder();
  CalendarBuilder(const CalendarBuilder&) = delete;
  CalendarBuilder& operator=(const CalendarBuilder&) = delete;

  void AddDay(wire::ConstDayBytes day);
  // The calendar as text (CRLF lines, folded).
  std::string Text() const;
  int Events() const { return events_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int events_ = 0;
};

// The UIDs of the events: stable across edits of the texts.
std::string DayUid(std::string_view aliasUtf8, int year, int month, int day);
std::string SlotUid(std::string_view aliasUtf8, int year, int month, int day, int slot,
                    int32_t slotId);

}  // namespace qv::feed
