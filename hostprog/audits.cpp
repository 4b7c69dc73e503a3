// The module's audit subjects, the one table of them the programs read.
#include "hostprog/audits.h"

#include "simhost/text.h"

namespace hostprog {

namespace {

struct Known {
  std::string_view subject;
  std::string_view detailStart;  // "" takes any detail
  Audit kind;
};

constexpr Known kKnown[] = {
    {"Gaval warned a user", "", Audit::Warned},
    {"Gaval bumped a user", "", Audit::Bumped},
    {"Gaval delayed Log-on", "", Audit::Delayed},
    {"Zor Gaval FILE OPEN ERROR", "", Audit::EventLogFailed},
    {"Zor Gaval Error", "Cannot open ", Audit::ReportFailed},
};

constexpr std::string_view kAudit = "audit ";

}  // namespace

Audit auditKind(std::string_view subject, std::string_view detail) {
  for (const Known& k : kKnown)
    if (subject == k.subject && detail.starts_with(k.detailStart)) return k.kind;
  return Audit::Other;
}

AuditEntry auditIn(std::string_view event) {
  AuditEntry entry;
  if (!event.starts_with(kAudit)) return entry;
  const simhost::text::Unquoted subject = simhost::text::unquote(event, kAudit.size(), false);
  if (subject.fault != simhost::text::QuoteFault::None || subject.end + 1 >= event.size() ||
      event[subject.end] != ' ')
    return entry;
  const simhost::text::Unquoted detail = simhost::text::unquote(event, subject.end + 1, false);
  if (detail.fault != simhost::text::QuoteFault::None) return entry;
  entry.subject = subject.text;
  entry.detail = detail.text;
  entry.kind = auditKind(entry.subject, entry.detail);
  return entry;
}

void AuditCounts::see(std::string_view event) {
  switch (auditIn(event).kind) {
    case Audit::Warned:
      ++warnings;
      break;
    case Audit::Bumped:
      ++bumps;
      break;
    case Audit::Delayed:
      ++delayed;
      break;
    case Audit::EventLogFailed:
      ++logFailures;
      break;
    case Audit::ReportFailed:
      ++reportFailures;
      break;
    default:
      break;
  }
}

}  // namespace hostprog
