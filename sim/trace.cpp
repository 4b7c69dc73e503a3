// The tally reads the finished trace lines back for the summary at the end
// of a run.
#include "sim/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "simhost/simhost.h"

namespace sim {

namespace {

// The summary texts are quoted first and fixed by the module, so a user-id
// or a message text can never pass for one of them.

bool eventIs(const std::string& line, const char* event) {
  return line.compare(simhost::kTraceEventOffset, std::strlen(event), event) == 0;
}

}  // namespace

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void TraceTally::see(const std::string& line) {
  if (line.size() <= simhost::kTraceEventOffset) return;
  if (eventIs(line, "audit \"Gaval warned a user\" "))
    ++warnings;
  else if (eventIs(line, "audit \"Gaval bumped a user\" "))
    ++bumps;
  else if (eventIs(line, "audit \"Gaval delayed Log-on\" "))
    ++refused;
  else if (eventIs(line, "audit \"Zor Gaval FILE OPEN ERROR\" "))
    ++logFailures;
  else if (eventIs(line, "audit \"Zor Gaval Error\" \"Cannot open "))
    ++reportFailures;
}

std::string TraceTally::summary(bool auditWarn, bool auditBump, bool auditDelay) const {
  std::string out = auditWarn ? counted(warnings, "warning", "warnings")
                              : "warnings not counted (option 21 is NO)";
  out += ", ";
  out += auditBump ? counted(bumps, "bump", "bumps") : "bumps not counted (option 22 is NO)";
  out += ", ";
  out += auditDelay ? counted(refused, "refused log-on", "refused log-ons")
                    : "refused log-ons not counted (option 26 is NO)";
  return out;
}

}  // namespace sim
