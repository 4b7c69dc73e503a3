// The replays of one evening under several option files, run side by side:
// each in a child process of its own, as many at once as the machine has
// cores, since each run is a whole host and they share nothing but DIR.
#pragma once

#include <vector>

#include "sim/replay.h"

namespace sim {

// One outcome per configuration, in their order. DIR (configs[0].dir) is
// held here for all of them, so no run can find it taken by another.
std::vector<ReplayOutcome> replayAll(const Evening& evening,
                                     const std::vector<ReplayConfig>& configs);

}  // namespace sim
