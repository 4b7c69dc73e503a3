// Running a recorded evening again through the substitute host, the board's
// way (the lowest free channel, the password route at the prompt, usage as
// seconds on line), under one option file; and what each run saw, counted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sim/replay_reader.h"
#include "simhost/event.h"
#include "simhost/simhost.h"

namespace sim {

struct ReplayConfig {
  std::string dir;          // the board's directory: accounts.dat, ZORGAVAL.MDF; only read
  std::string optionFile;   // absolute; "" = the built-in sample
  std::string optionLabel;  // as the sysop named it
  std::string modulePath;
  unsigned firstNumber = 0;                           // the board's first channel number
  std::string scratchDir;                             // made already; "" = make one
  std::function<void(const simhost::Event&)> events;  // each event; may be null
};

struct Occupancy {
  simhost::Clock at = 0;
  int busy = 0;  // occupied channels of the watched range
};

struct Mark {
  simhost::Clock at = 0;
  enum class Kind { Warning, Bump, Busy } kind = Kind::Warning;
};

struct ReplayOutcome {
  std::string label;
  int calls = 0;                             // calls that got a channel
  int logons = 0;                            // accepted log-ons
  int warnings = 0, bumps = 0, refused = 0;  // from the module's audit lines
  int busy = 0;                              // callers turned away, every channel taken
  int busyExempt = 0;                        // of those, holders of the exempt key (option 2)
  int rangeSize = 0, threshold = 0;          // the watched range, and its busy level
  std::vector<Occupancy> occupancy;          // at each change
  std::vector<Mark> marks;
  std::string scratchDir;           // where the run's files are
  std::vector<std::string> errors;  // a run that could not be done says why
  int status = 0;                   // as a scenario run's
};

// Replays the evening under one option file, on a scratch directory made
// for it (a copy of DIR's accounts, no delay record).
ReplayOutcome replay(const Evening& evening, const ReplayConfig& config);

// The accounts of the board's directory, read from a copy.
std::vector<simhost::StoredAccount> boardAccounts(const ReplayConfig& config, std::string* problem);

// The evening as scenario text a sysop can read, edit and run.
std::string scenarioText(const Evening& evening,
                         const std::vector<simhost::StoredAccount>& accounts, unsigned firstNumber);

// The seconds of the median recorded call: what a caller the replay admits,
// who was turned away live, stays on line.
simhost::Clock medianCall(const Evening& evening);

// The what-if table: one row per run, then the differences against the
// first, then the footnote on what callers do when their fate changes.
std::string outcomeTable(const std::vector<ReplayOutcome>& runs, simhost::Clock median);

}  // namespace sim
