// The module's audit entries that the programs count and watch, recognised
// in one place: the trace's `audit "SUBJECT" "DETAIL"` line read with the
// host's own unquoting, its subject (and, for a report, its detail) told
// apart. The simulator's closing lines and replay, and the board's metrics
// and console all ask here.
#pragma once

#include <string>
#include <string_view>

namespace hostprog {

enum class Audit {
  None,            // not an audit line, or not one of these
  Warned,          // "Gaval warned a user"
  Bumped,          // "Gaval bumped a user"
  Delayed,         // "Gaval delayed Log-on"
  EventLogFailed,  // "Zor Gaval FILE OPEN ERROR"
  ReportFailed,    // "Zor Gaval Error", "Cannot open ..."
  Other,           // an audit entry of another subject
};

struct AuditEntry {
  Audit kind = Audit::None;
  std::string subject, detail;  // as the module gave them
};

// The entry a trace line's event part holds (the text past the stamp).
AuditEntry auditIn(std::string_view event);

// The kind of an entry already read into its two texts.
Audit auditKind(std::string_view subject, std::string_view detail);

// The entries both programs count: the simulator's closing lines and the
// board's metrics keep these, from the same lines.
struct AuditCounts {
  long warnings = 0;        // Audit::Warned
  long bumps = 0;           // Audit::Bumped
  long delayed = 0;         // Audit::Delayed
  long logFailures = 0;     // Audit::EventLogFailed
  long reportFailures = 0;  // Audit::ReportFailed
  // A trace line's event part counted, if it is one of them.
  void see(std::string_view event);
};

}  // namespace hostprog
