// The tally of the run's warnings, bumps and refused log-ons, for the
// summary at the end of a run; the lines go out through hostprog/trace_out.h.
#pragma once

#include <cstddef>
#include <string>

#include "hostprog/audits.h"

namespace sim {

// "1 bump", "2 bumps": a count and its noun, for the summary lines.
std::string counted(std::size_t n, const char* one, const char* many);

// Counts, from the run's events, what a sysop looks for first. The
// module's audit entries are the one trace event that names each of these
// acts, so the counts are only as complete as the audit options allow.
// The failures to open or write the event log or report are the module's
// own audit entries too; the closing lines own up to them.
struct TraceTally : hostprog::AuditCounts {
  // "2 warnings, 1 bump, 1 refused log-on". A kind whose audit entries are
  // switched off cannot be counted and says so, with the option to blame.
  std::string summary(bool auditWarn, bool auditBump, bool auditDelay) const;
};

}  // namespace sim
