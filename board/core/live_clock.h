// The board's host clock: the machine's local time read once, then moved
// on by the monotonic clock, N times faster with --speed N, so a change of
// the wall clock (daylight saving, a correction) never stalls the timers.
#pragma once

#include <chrono>

#include "simhost/simhost.h"

namespace board {

class LiveClock {
 public:
  using Steady = std::chrono::steady_clock;

  LiveClock(simhost::Clock start, int speed, Steady::time_point origin)
      : start_(start), speed_(speed), origin_(origin) {}

  // The host clock's reading at moment t (never before the start).
  simhost::Clock at(Steady::time_point t) const;
  // The first moment at which the host clock reads c.
  Steady::time_point when(simhost::Clock c) const;

 private:
  simhost::Clock start_;
  int speed_;
  Steady::time_point origin_;
};

}  // namespace board
