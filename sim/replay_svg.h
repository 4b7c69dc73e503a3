// The replayed evening drawn as SVG: one panel per option file, the watched
// range's occupied channels over time against its busy level, with every
// warning, bump and busy refusal marked.
#pragma once

#include <string>
#include <vector>

#include "sim/replay.h"

namespace sim {

std::string replaySvg(const std::vector<ReplayOutcome>& runs, simhost::Clock start,
                      simhost::Clock end);

}  // namespace sim
