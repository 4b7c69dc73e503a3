// What the console shows, as JSON: the channels, the delay records with
// their ends, the blocked addresses, and the report read back with the
// host's own count of today beside it.
#pragma once

#include <string>

#include "board/core/config.h"
#include "board/sysop/host_watch.h"
#include "hostprog/delay_end.h"
#include "hostprog/report_read.h"

namespace board {

class Board;

// What the views read once from the option file.
struct ConsoleFacts {
  hostprog::DelayTerms terms;
  unsigned watchedLow = 0, watchedHigh = 0;  // options 17 and 18, in order
  std::string reportPath;                    // option 29, "" for none
};
ConsoleFacts consoleFacts(const Config& config);

std::string whoJson(Board& board, const ConsoleFacts& facts, const HostWatch& watch);
std::string delaysJson(const ConsoleFacts& facts);
std::string blockedJson(Board& board);
// The report file's days and today's count by hour as the host saw it.
std::string reportJson(const hostprog::ReportFile& file, const HostWatch& today);

}  // namespace board
