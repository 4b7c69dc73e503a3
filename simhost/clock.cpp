// The virtual clock: civil date conversion (proleptic Gregorian, no time
// zones), the packed date and time the module reads (today, now), and the
// host's date and time texts (ncdate, nctime, dctime).
#include <cstdio>
#include <ctime>

#include "simhost/state.h"
#include "simhost/text.h"

namespace simhost {

namespace {

constexpr Clock kDay = 86400;

// Days since 1970-01-01 of a civil date, counting years from March so that
// the leap day falls at the end of the counted year.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;  // 0..399
  const std::int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(std::int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2));
}

const std::int64_t kEpochDays = daysFromCivil(1980, 1, 1);

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

Clock clockFromCivil(const CivilTime& t) {
  const std::int64_t days = daysFromCivil(t.year, t.month, t.day) - kEpochDays;
  return days * kDay + Clock{t.hour} * 3600 + Clock{t.minute} * 60 + t.second;
}

CivilTime civilFromClock(Clock c) {
  const std::int64_t days = floorDiv(c, kDay);
  const std::int64_t secs = c - days * kDay;
  CivilTime t{};
  civilFromDays(days + kEpochDays, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

std::string formatClock(Clock c) {
  const CivilTime t = civilFromClock(c);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

Clock localClockNow() {
  const std::time_t wall = std::time(nullptr);
  std::tm local{};
  localtime_r(&wall, &local);
  return clockFromCivil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec});
}

Clock clock() { return state.clock; }

}  // namespace simhost

using namespace simhost;

extern "C" {

// The year field holds 0..127; the simulator keeps the clock inside
// 1980..2107, so the mask only matters to a host driven past that.
PackedDate today() {
  const CivilTime t = civilFromClock(state.clock);
  return static_cast<PackedDate>(((t.year - 1980) & 0x7f) << 9 | t.month << 5 | t.day);
}

PackedTime now() {
  const CivilTime t = civilFromClock(state.clock);
  return static_cast<PackedTime>(t.hour << 11 | t.minute << 5 | t.second / 2);
}

PackedTime dctime(const char* hhmmss) {
  if (hhmmss != nullptr) {
    if (const auto t = text::readTimeOfDay(hhmmss)) {
      return static_cast<PackedTime>(t->hour << 11 | t->minute << 5 | t->second / 2);
    }
  }
  warning("dctime: " + (hhmmss ? quote(hhmmss) : std::string("a null text")) +
          " is not a time HH:MM:SS");
  return 0;
}

char* ncdate(PackedDate date) {
  static char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d", (date >> 5) & 0x0f, date & 0x1f,
                (1980 + (date >> 9)) % 100);
  return text;
}

char* nctime(PackedTime time) {
  static char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time >> 11, (time >> 5) & 0x3f,
                (time & 0x1f) * 2);
  return text;
}

}  // extern "C"
