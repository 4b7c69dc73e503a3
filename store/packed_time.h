// Arithmetic on the host's 16-bit packed dates and times, and the end of a
// delay worked out from a delay record's stamp.
#pragma once

#include "host/host.h"

// The last day and moment the packed forms can hold.
enum : PackedDate { LAST_PACKED_DATE = (127 << 9) | (12 << 5) | 31 };  // 2107-12-31
enum : PackedTime { LAST_PACKED_TIME = (23 << 11) | (59 << 5) | 29 };  // 23:59:58

struct DelayEnd {
  PackedDate date;
  PackedTime time;
};

// Nonzero when the date's month is 1 to 12 and its day lies in that month.
int isCalendarDate(PackedDate date);
// Nonzero when the time's hour is 0 to 23, its minute 0 to 59 and its
// seconds field 0 to 29.
int isClockTime(PackedTime time);

// Both answer a calendar date, held within 1980-01-01 to 2107-12-31; a date
// that is not a calendar date is answered unchanged.
PackedDate addDays(unsigned n, PackedDate date);
PackedDate subtractDays(unsigned n, PackedDate date);

// The time of day `seconds` (0 to 7200) later, modulo 24 hours.
PackedTime addSecondsToTime(int seconds, PackedTime time);

// The end of a delay stamped (date, time), with the current delayLength.
DelayEnd endOfDelay(PackedDate date, PackedTime time);
