// When a delay record stops keeping its user off: the end the module tells
// the user (the stamp plus the delay length), and the Delay window, outside
// which a record no longer holds. The same arithmetic as the module's, on
// the same packed values.
#pragma once

#include <cstdint>
#include <string>

#include "simhost/options.h"

namespace hostprog {

struct DelayTerms {
  int length = 0;                 // option 23, seconds
  std::uint16_t windowStart = 0;  // option 24, packed time
  std::uint16_t windowEnd = 0;    // option 25, packed time
};
// The terms as the module reads them from its option file.
DelayTerms delayTerms(const simhost::ParsedOptions& options);

struct Moment {
  std::uint16_t date = 0, time = 0;  // packed
  bool operator<(const Moment& o) const { return date != o.date ? date < o.date : time < o.time; }
};

// The end of the delay of a record stamped AT.
Moment delayEnd(const DelayTerms& terms, Moment at);
bool insideWindow(const DelayTerms& terms, std::uint16_t time);
// Whether a log-on at NOW would be refused by the record, for a caller on
// the watched range without the exempt key.
bool delayHolds(const DelayTerms& terms, Moment end, Moment now);
// The first moment from NOW on at which the record no longer holds: its
// end, or the window's close if that comes first; NOW when it holds no more.
Moment delayLifts(const DelayTerms& terms, Moment end, Moment now);

// Packed-value arithmetic: one day on; seconds added to a time of day
// (wrapping at midnight, two-second steps).
std::uint16_t nextDay(std::uint16_t date);
std::uint16_t addSeconds(int seconds, std::uint16_t time);

}  // namespace hostprog
