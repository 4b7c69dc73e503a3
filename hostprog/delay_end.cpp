// The delay's end and the Delay window on packed dates and times, both
// ends of the window included and a window that runs over midnight kept.
#include "hostprog/delay_end.h"

#include "host/host.h"

namespace hostprog {

namespace {

int monthLength(int month, int yearField) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && yearField % 4 == 0) return 29;
  return month >= 1 && month <= 12 ? lengths[month - 1] : 31;
}

}  // namespace

DelayTerms delayTerms(const simhost::ParsedOptions& options) {
  DelayTerms t;
  t.length = simhost::readDecimalOption(options, 23, 0, 7200).number;
  t.windowStart = dctime(simhost::readTextOption(options, 24).text.c_str());
  t.windowEnd = dctime(simhost::readTextOption(options, 25).text.c_str());
  return t;
}

std::uint16_t nextDay(std::uint16_t date) {
  int year = date >> 9, month = (date >> 5) & 0x0f, day = date & 0x1f;
  if (day < monthLength(month, year)) {
    ++day;
  } else {
    day = 1;
    if (++month > 12) month = 1, ++year;
  }
  return static_cast<std::uint16_t>((year & 0x7f) << 9 | month << 5 | day);
}

std::uint16_t addSeconds(int seconds, std::uint16_t time) {
  const int start = (time >> 11) * 3600 + ((time >> 5) & 0x3f) * 60 + (time & 0x1f) * 2;
  const int t = (start + seconds) % 86400;
  return static_cast<std::uint16_t>((t / 3600) << 11 | (t / 60 % 60) << 5 | (t % 60) / 2);
}

Moment delayEnd(const DelayTerms& terms, Moment at) {
  Moment end{at.date, addSeconds(terms.length, at.time)};
  if (end.time < at.time) end.date = nextDay(at.date);
  return end;
}

bool insideWindow(const DelayTerms& terms, std::uint16_t time) {
  if (terms.windowEnd < terms.windowStart)
    return time >= terms.windowStart || time <= terms.windowEnd;
  return time >= terms.windowStart && time <= terms.windowEnd;
}

bool delayHolds(const DelayTerms& terms, Moment end, Moment now) {
  if (end.date < now.date) return false;
  if (!insideWindow(terms, now.time)) return false;
  return !(end.date == now.date && end.time <= now.time);
}

Moment delayLifts(const DelayTerms& terms, Moment end, Moment now) {
  if (!delayHolds(terms, end, now)) return now;
  // Inside the window now: it closes two seconds after its last moment,
  // today or (for a window over midnight, after it) tomorrow.
  Moment closes{now.date, addSeconds(2, terms.windowEnd)};
  if (closes.time < terms.windowEnd || terms.windowEnd < now.time) closes.date = nextDay(now.date);
  // A window of the whole day never closes.
  const bool wholeDay = addSeconds(2, terms.windowEnd) == terms.windowStart;
  return wholeDay || end < closes ? end : closes;
}

}  // namespace hostprog
