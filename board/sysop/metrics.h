// The board's figures for monitoring, in Prometheus' text format: counts
// tallied from the board's events as they happen (what the module told
// the host and what the board did), levels read from the board when asked.
// The program owns the one tally and hands it to the routes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "board/web/http_route.h"
#include "hostprog/audits.h"
#include "simhost/event.h"

namespace board {

class Board;

// The counters, from each event.
struct MetricsTally : hostprog::AuditCounts {
  std::map<std::string, long> callsBy;  // transport -> calls given a channel
  long accepted = 0, rejected = 0, unknown = 0;
  long busy = 0, overflows = 0;
  void see(const simhost::Event& e);
};

// The exposition (format 0.0.4) of TALLY and BOARD's state now.
std::string exposition(const MetricsTally& tally, Board& board);

// GET /metrics with TALLY's counts, answered to loopback and to the
// addresses in FROM, 403 to anyone else (who is busy is nobody else's
// business). TALLY outlives the route.
HttpRoute metricsRoute(Board& board, const MetricsTally& tally, std::vector<std::string> from);

}  // namespace board
