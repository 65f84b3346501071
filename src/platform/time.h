#pragma once
// Calendar time as the clients and files see it (TDateTime) and the millisecond tick count.
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::platform {

// Days since 1899-12-30 in local time; the fraction is the time of day.
using TDateTime = double;

struct LocalTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TDateTime Now();
TDateTime Today();  // Now() truncated to whole days
TDateTime EncodeDateTime(const LocalTime& t);
LocalTime DecodeDateTime(TDateTime value);

// Seconds since the Unix epoch of a local date and time (minutes may pass midnight), by the
// time zone rules of this machine.
int64_t LocalToUnixSeconds(int year, int month, int day, int minuteOfDay);
// Seconds since the Unix epoch now, by the system clock.
int64_t UnixSecondsNow();
// The local date and time of a moment given in milliseconds since the Unix epoch.
TDateTime UnixMsToDateTime(int64_t unixMs);

// "HH:MM:SS" of the time of day, used to stamp log lines.
std::string FormatTimeOfDay(TDateTime value);

// Formats with the letters the file names use: yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s;
// every other character is copied as it stands ("yymmddhhnnss", "dd-mm-yy - h-nn").
std::string FormatDateTime(TDateTime value, std::string_view pattern);

// Milliseconds of a steady clock; wraps like a 32-bit counter.
uint32_t TickCount();

// Signed 32-bit difference of two tick counts, right across a wrap.
inline int32_t TickDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace qv::platform
