// The board's host clock: monotonic time since the start, scaled by the
// speed, in whole host seconds; and back, for arming the loop's timer.
#include "board/core/live_clock.h"

namespace board {

namespace {
constexpr std::int64_t kNano = 1'000'000'000;
}

simhost::Clock LiveClock::at(Steady::time_point t) const {
  const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t - origin_).count();
  if (ns <= 0) return start_;
  // Split so that a long run at a high speed cannot overflow.
  return start_ + ns / kNano * speed_ + ns % kNano * speed_ / kNano;
}

LiveClock::Steady::time_point LiveClock::when(simhost::Clock c) const {
  if (c <= start_) return origin_;
  const std::int64_t hostSeconds = c - start_;
  const std::int64_t whole = hostSeconds / speed_;
  const std::int64_t rest = hostSeconds % speed_;
  const std::int64_t ns = whole * kNano + (rest * kNano + speed_ - 1) / speed_;
  return origin_ + std::chrono::nanoseconds(ns);
}

}  // namespace board
