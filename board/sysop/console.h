// The sysop's console on the board: the one route the web listener's
// owner mounts. Pages at /console, the JSON API at /console/api/ (see
// board/sysop/console_api.h for the rules every request goes through).
#pragma once

#include <string>

#include "board/sysop/console_sessions.h"
#include "board/web/http_route.h"

namespace board {

class Board;
class HostWatch;

struct ConsoleConfig {
  std::string key = "SYSOP";   // the key an account needs (--console-key)
  ConsoleSessions::Clock now;  // empty: the steady clock
};

// The console over BOARD, showing what WATCH has seen, its live pushes
// timed on the board's loop. Lives as long as the route is kept (and the
// board and the watch).
HttpRoute consoleRoute(Board& board, const HostWatch& watch, const ConsoleConfig& config);

}  // namespace board
