// The tally reads the finished trace lines back for the summary at the end
// of a run.
#include "sim/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hostprog/audits.h"
#include "simhost/simhost.h"

namespace sim {

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void TraceTally::see(const std::string& line) {
  if (line.size() <= simhost::kTraceEventOffset) return;
  switch (hostprog::auditIn(std::string_view(line).substr(simhost::kTraceEventOffset)).kind) {
    case hostprog::Audit::Warned:
      ++warnings;
      break;
    case hostprog::Audit::Bumped:
      ++bumps;
      break;
    case hostprog::Audit::Delayed:
      ++refused;
      break;
    case hostprog::Audit::EventLogFailed:
      ++logFailures;
      break;
    case hostprog::Audit::ReportFailed:
      ++reportFailures;
      break;
    default:
      break;
  }
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
