// The front door's figures for /metrics and the sysop's one warning line a
// minute while the board behind cannot be reached: one record for the
// process, touched from the loop's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace board {

struct BehindCounts {
  std::int64_t carriedNow = 0;      // calls carried at this moment
  std::uint64_t carried = 0;        // calls carried since the start
  std::uint64_t bytesToCaller = 0;  // from the board behind, as it sent them
  std::uint64_t bytesToBehind = 0;  // the caller's keys, as typed
  std::uint64_t unreachable = 0;    // calls the board behind refused or never answered
};

BehindCounts& behindCounts();

// A call that could not reach the board behind, for WHY: counted, and
// while the board behind stays down the sysop reads one warning line a
// minute (the trace's `warning` and standard error), not one per caller.
void behindUnreachable(const std::string& target, const std::string& why,
                       std::chrono::steady_clock::time_point now);
// A call reached it: the next failure is news again.
void behindReached();

}  // namespace board
