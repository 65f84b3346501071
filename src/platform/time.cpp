#include "platform/time.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <stdexcept>

namespace qv::platform {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), after H. Hinnant.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpochShift = DaysFromCivil(1899, 12, 30);  // TDateTime 0 in Unix days

std::string TwoDigits(int v) {
  std::string s = std::to_string(v % 100);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

TDateTime EncodeDateTime(const LocalTime& t) {
  const int64_t days =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
      kEpochShift;
  const double fraction =
      (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / 86400000.0;
  // Before the epoch the fraction counts away from zero, as TDateTime does.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

LocalTime DecodeDateTime(TDateTime value) {
  LocalTime t;
  const double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  int64_t ms = std::llround(fraction * 86400000.0);
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days + kEpochShift, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  return UnixMsToDateTime(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
}

TDateTime UnixMsToDateTime(int64_t unixMs) {
  const auto ms = std::chrono::milliseconds(unixMs);
  const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
  std::tm local{};
  if (localtime_r(&secs, &local) == nullptr) throw std::runtime_error("localtime_r failed");
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(ms.count() % 1000);
  return EncodeDateTime(t);
}

int64_t LocalToUnixSeconds(int year, int month, int day, int minuteOfDay) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = minuteOfDay / 60;  // mktime carries hours past 23 into the next days
  local.tm_min = minuteOfDay % 60;
  local.tm_isdst = -1;
  const std::time_t secs = std::mktime(&local);
  if (secs == static_cast<std::time_t>(-1)) throw std::runtime_error("mktime failed");
  return static_cast<int64_t>(secs);
}

int64_t UnixSecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TDateTime Today() {
  return std::trunc(Now());
}

std::string FormatTimeOfDay(TDateTime value) {
  const LocalTime t = DecodeDateTime(value);
  return TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

std::string FormatDateTime(TDateTime value, std::string_view pattern) {
  const LocalTime t = DecodeDateTime(value);
  std::string out;
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < pattern.size() && (pattern[i + n] | 0x20) == c) ++n;
    return n;
  };
  while (i < pattern.size()) {
    const char c = static_cast<char>(pattern[i] | 0x20);
    const size_t n = (c >= 'a' && c <= 'z') ? run(c) : 0;
    auto field = [&](int v) { out += n >= 2 ? TwoDigits(v) : std::to_string(v); };
    switch (n == 0 ? '\0' : c) {
      case 'y':
        out += n >= 4 ? std::to_string(t.year) : TwoDigits(t.year);
        break;
      case 'm':
        field(t.month);
        break;
      case 'd':
        field(t.day);
        break;
      case 'h':
        field(t.hour);
        break;
      case 'n':
        field(t.minute);
        break;
      case 's':
        field(t.second);
        break;
      default:
        out += n == 0 ? std::string(1, pattern[i]) : std::string(pattern.substr(i, n));
        i += n == 0 ? 1 : n;
        continue;
    }
    i += n;
  }
  return out;
}

uint32_t TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace qv::platform
