// Packed date and time arithmetic: adding and subtracting days, adding
// seconds to a time of day, and the end of a delay (reads delayLength).
#include "store/packed_time.h"

#include "frame/state.h"

namespace {

struct Split {
  int year;  // years since 1980, 0 to 127
  int month;
  int day;
};

Split split(PackedDate date) {
  return {date >> 9, (date >> 5) & 0x0F, date & 0x1F};
}

PackedDate pack(const Split& d) {
  return static_cast<PackedDate>((d.year << 9) | (d.month << 5) | d.day);
}

// Only called with a month of 1 to 12. The leap rule is the packed year
// divisible by 4, with no century rule (2100 counts as leap).
int monthLength(int year, int month) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && year % 4 == 0) return 29;
  return lengths[month - 1];
}

}  // namespace

int isCalendarDate(PackedDate date) {
  const Split d = split(date);
  return d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= monthLength(d.year, d.month);
}

int isClockTime(PackedTime time) {
  return (time >> 11) <= 23 && ((time >> 5) & 63) <= 59 && (time & 31) <= 29;
}

// Past 2107-12-31 nothing can be packed; rather than wrap to 1980 (which
// would make every delay look long over) the result stays on that last day.
PackedDate addDays(unsigned n, PackedDate date) {
  if (!isCalendarDate(date)) return date;
  Split d = split(date);
  while (n > 0) {
    const unsigned rest = static_cast<unsigned>(monthLength(d.year, d.month) - d.day);
    if (rest >= n) {
      d.day += static_cast<int>(n);
      n = 0;
    } else {
      n -= rest;
      d.day = 0;
      if (d.month == 12) {
        if (d.year == 127) return LAST_PACKED_DATE;
        d.month = 1;
        ++d.year;
      } else {
        ++d.month;
      }
    }
  }
  return pack(d);
}

// Before 1980-01-01 the result stays on that first day, for the same reason.
PackedDate subtractDays(unsigned n, PackedDate date) {
  if (!isCalendarDate(date)) return date;
  Split d = split(date);
  while (n > 0) {
    const unsigned available =
        static_cast<unsigned>(d.day != 0 ? d.day : monthLength(d.year, d.month));
    if (available > n) {
      d.day = static_cast<int>(available - n);
      n = 0;
    } else {
      n -= available;
      d.day = 0;
      if (d.month == 1) {
        if (d.year == 0) return pack({0, 1, 1});
        d.month = 12;
        --d.year;
      } else {
        --d.month;
      }
    }
  }
  if (d.day == 0) d.day = monthLength(d.year, d.month);
  return pack(d);
}

PackedTime addSecondsToTime(int seconds, PackedTime time) {
  const int hour = time >> 11, minute = (time >> 5) & 0x3F, half = time & 0x1F;
  const int day = 24 * 3600;
  const int total = (hour * 3600 + minute * 60 + 2 * half + seconds) % day;
  return static_cast<PackedTime>(((total / 3600) << 11) | ((total / 60 % 60) << 5) |
                                 (total % 60 / 2));
}

// A delay that would end after midnight on 2107-12-31 ends at its last
// moment instead: a delay that runs to the end of time is still a delay.
DelayEnd endOfDelay(PackedDate date, PackedTime time) {
  DelayEnd end{date, addSecondsToTime(moduleState.delayLength, time)};
  if (end.time < time) {
    end.date = addDays(1, date);
    if (end.date == date) end.time = LAST_PACKED_TIME;
  }
  return end;
}
