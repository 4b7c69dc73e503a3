// The trace writer: standard output carries the trace and nothing else, one
// line per event, each flushed as it is written. Also the tally of the
// trace's warnings, bumps and refused log-ons for the summary at the end.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Writes one finished trace line and a newline to standard output and
// flushes it, so a run killed from outside loses nothing it printed. A
// failed write throws simhost::Fatal(1): a trace with holes is worse than none.
void writeTraceLine(const std::string& line);

// "1 bump", "2 bumps": a count and its noun, for the summary lines.
std::string counted(std::size_t n, const char* one, const char* many);

// Counts, from the finished trace lines, what a sysop looks for first. The
// module's audit entries are the one trace event that names each of these
// acts, so the counts are only as complete as the audit options allow.
struct TraceTally {
  int warnings = 0;  // audit "Gaval warned a user"
  int bumps = 0;     // audit "Gaval bumped a user"
  int refused = 0;   // audit "Gaval delayed Log-on"
  // The module's own audit entries for an event log or report it could not
  // open or write; the closing lines own up to them.
  int logFailures = 0;     // audit "Zor Gaval FILE OPEN ERROR"
  int reportFailures = 0;  // audit "Zor Gaval Error" "Cannot open ..."

  void see(const std::string& line);

  // "2 warnings, 1 bump, 1 refused log-on". A kind whose audit entries are
  // switched off cannot be counted and says so, with the option to blame.
  std::string summary(bool auditWarn, bool auditBump, bool auditDelay) const;
};

}  // namespace sim
