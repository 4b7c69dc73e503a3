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

}  // namespace hostprog
