// What the sysop looks at, as data built once: a row per channel, per delay
// record and per blocked address, printed as text by `ctl`
// (board/sysop/sysop.cpp) and as JSON by the console
// (board/sysop/console_views.cpp).
#pragma once

#include <string>
#include <vector>

#include "board/caller/throttle.h"
#include "hostprog/delays.h"
#include "simhost/simhost.h"

namespace board {

class Board;
class HostWatch;
struct ModuleOptions;

// One channel. A field more is a member here and a column or a member in
// each printer.
struct WhoRow {
  int channel = 0;
  unsigned number = 0;       // the channel's number (--first)
  int status = 0;            // the host's; 0 for a free channel
  std::string user;          // "" on a free channel
  bool signedOn = false;     // past the prompts
  std::string transport;     // "" when no call holds the channel
  std::string address;       // the call's "IP:PORT", or ""
  std::string carried;       // "carried to KIND:HOST:PORT since ..." with --behind, or ""
  simhost::Clock seconds{};  // the call's time so far
  bool watched = false;      // in the module's watched range
  bool candidate = false;    // the module's bump candidate, on line
};
// Every channel, free ones too; the candidate as WATCH has seen him.
std::vector<WhoRow> whoRows(Board& board, const ModuleOptions& options, const HostWatch& watch);

struct DelayRow {
  hostprog::StoredDelay stored;
  hostprog::Moment end;    // as the module tells the user
  bool holds = false;      // whether a log-on at NOW is refused
  hostprog::Moment lifts;  // when it stops holding
};
std::vector<DelayRow> delayRows(const std::vector<hostprog::StoredDelay>& stored,
                                const hostprog::DelayTerms& terms, hostprog::Moment now);
// The host's records at the host's date and time.
std::vector<DelayRow> delayRows(const hostprog::DelayTerms& terms);

std::vector<Throttle::Block> blockedRows(Board& board);

}  // namespace board
