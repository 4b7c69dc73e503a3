// The module's audit subjects, the one table of them the programs read.
#include "hostprog/audits.h"

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
    {"Zor Gaval Config Error", "", Audit::ConfigError},
};

// How a warning's, a bump's and a delay's detail names the user.
constexpr std::string_view kUserPrefix = "User-ID: ";

}  // namespace

Audit auditKind(std::string_view subject, std::string_view detail) {
  for (const Known& k : kKnown)
    if (subject == k.subject && detail.starts_with(k.detailStart)) return k.kind;
  return Audit::Other;
}

std::string_view auditSubject(Audit kind) {
  for (const Known& k : kKnown)
    if (k.kind == kind) return k.subject;
  return "";
}

Audit auditKind(const simhost::Event& e) {
  return e.kind == simhost::EventKind::Audit ? auditKind(e.text, e.detail) : Audit::None;
}

AuditEntry auditOf(const simhost::Event& e) {
  AuditEntry entry{auditKind(e), std::nullopt};
  const bool names =
      entry.kind == Audit::Warned || entry.kind == Audit::Bumped || entry.kind == Audit::Delayed;
  if (names && e.detail.starts_with(kUserPrefix))
    entry.userid = e.detail.substr(kUserPrefix.size());
  return entry;
}

void AuditCounts::see(const simhost::Event& e) {
  switch (auditKind(e)) {
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
