// The module's audit entries that the programs count and watch, recognised
// in one place: an `audit` event's subject (and, for a report, its detail)
// told apart. The simulator's closing lines, check and replay, and the
// board's metrics and console all ask here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "simhost/event.h"

namespace hostprog {

enum class Audit {
  None,            // not an audit line, or not one of these
  Warned,          // a user warned of a bump (the subjects: audits.cpp)
  Bumped,          // a user bumped
  Delayed,         // a log-on refused for a delay record
  EventLogFailed,  // the event log could not be opened
  ReportFailed,    // the report could not be written
  ConfigError,     // settings the module cannot honour
  Other,           // an audit entry of another subject
};

struct AuditEntry {
  Audit kind = Audit::None;
  std::optional<std::string> userid;  // whom a warning, bump or delay names
};

// The kind of an entry already read into its two texts.
Audit auditKind(std::string_view subject, std::string_view detail);

// The subject of KIND's entries, as the module writes it; "" for None, Other.
std::string_view auditSubject(Audit kind);

// The kind of an event: None unless it is an audit entry.
Audit auditKind(const simhost::Event& e);

// The kind of an event and the user its entry names.
AuditEntry auditOf(const simhost::Event& e);

// The entries both programs count: the simulator's closing lines and the
// board's metrics keep these, from the same lines.
struct AuditCounts {
  long warnings = 0;        // Audit::Warned
  long bumps = 0;           // Audit::Bumped
  long delayed = 0;         // Audit::Delayed
  long logFailures = 0;     // Audit::EventLogFailed
  long reportFailures = 0;  // Audit::ReportFailed
  // An event counted, if it is one of them.
  void see(const simhost::Event& e);
};

}  // namespace hostprog
