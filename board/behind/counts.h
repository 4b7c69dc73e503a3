// The front door's figures for /metrics and the sysop's one warning line a
// minute while the board behind cannot be reached: one record the board
// keeps, touched from the loop's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace board {

class BehindCounts {
 public:
  using Time = std::chrono::steady_clock::time_point;
  std::int64_t carriedNow = 0;      // calls carried at this moment
  std::uint64_t carried = 0;        // calls carried since the start
  std::uint64_t bytesToCaller = 0;  // from the board behind, as it sent them
  std::uint64_t bytesToBehind = 0;  // the caller's keys, as typed
  std::uint64_t unreachable = 0;    // calls the board behind refused or never answered

  // A call that could not reach TARGET, for WHY: counted, and while the
  // board behind stays down the sysop reads one warning line a minute (the
  // trace's `warning` and standard error), not one per caller.
  void failedToReach(const std::string& target, const std::string& why, Time now);
  // A call reached it: the next failure is news again.
  void reached();

 private:
  std::optional<Time> saidAt_;  // set while it is down
  std::uint64_t unsaid_ = 0;    // failures since the last line
};

}  // namespace board
