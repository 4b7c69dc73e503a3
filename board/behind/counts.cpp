// The front door's outage line: a failure after a success is said at
// once; while failures go on, once a minute with their number.
#include "board/behind/counts.h"

#include <iostream>

#include "board/core/error_line.h"
#include "simhost/simhost.h"

namespace board {

namespace {

constexpr auto kOutageLineEvery = std::chrono::minutes(1);

}  // namespace

void BehindCounts::failedToReach(const std::string& target, const std::string& why, Time now) {
  ++unreachable;
  ++unsaid_;
  if (saidAt_ && now - *saidAt_ < kOutageLineEvery) return;
  const std::string line = "the board behind (" + target + ") cannot be reached: " + why + "; " +
                           std::to_string(unsaid_) + (unsaid_ == 1 ? " caller" : " callers") +
                           " turned back" + (saidAt_ ? " in the last minute" : "");
  std::cerr << errorLine(line) << std::endl;
  simhost::warning(line);
  saidAt_ = now;
  unsaid_ = 0;
}

void BehindCounts::reached() {
  saidAt_.reset();
  unsaid_ = 0;
}

}  // namespace board
