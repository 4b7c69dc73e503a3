// The front door's counts and its outage line: a failure after a success
// is said at once; while failures go on, once a minute with their number.
#include "board/behind/counts.h"

#include <iostream>
#include <optional>

#include "board/core/error_line.h"
#include "simhost/simhost.h"

namespace board {

namespace {

constexpr auto kOutageLineEvery = std::chrono::minutes(1);

struct Outage {
  std::optional<std::chrono::steady_clock::time_point> saidAt;  // set while it is down
  std::uint64_t unsaid = 0;                                     // failures since the last line
};

Outage& outage() {
  static Outage o;
  return o;
}

}  // namespace

BehindCounts& behindCounts() {
  static BehindCounts counts;
  return counts;
}

void behindUnreachable(const std::string& target, const std::string& why,
                       std::chrono::steady_clock::time_point now) {
  ++behindCounts().unreachable;
  Outage& o = outage();
  ++o.unsaid;
  if (o.saidAt && now - *o.saidAt < kOutageLineEvery) return;
  const std::string line = "the board behind (" + target + ") cannot be reached: " + why + "; " +
                           std::to_string(o.unsaid) + (o.unsaid == 1 ? " caller" : " callers") +
                           " turned back" + (o.saidAt ? " in the last minute" : "");
  std::cerr << errorLine(line) << std::endl;
  simhost::warning(line);
  o.saidAt = now;
  o.unsaid = 0;
}

void behindReached() { outage() = Outage{}; }

}  // namespace board
