// The events watched for the console: audit entries name the warned,
// bumped and delayed user; hang-ups end a candidate's watch.
#include "board/sysop/host_watch.h"

#include "hostprog/audits.h"
#include "simhost/text.h"

namespace board {

void HostWatch::see(const simhost::Event& e) {
  const std::string stamp = simhost::formatClock(e.at);  // "YYYY-MM-DD HH:MM:SS"
  const std::string day = stamp.substr(0, 10);
  if (day != day_) {
    day_ = day;
    since_ = stamp.substr(11, 8);
    hours_ = {};
  }
  const int hour = simhost::civilFromClock(e.at).hour;
  if (e.kind == simhost::EventKind::Hangup) {
    ++hours_[3][hour];
    if (simhost::text::equalFolded(e.userid, candidate_)) candidate_.clear();
    return;
  }
  const hostprog::AuditEntry audit = hostprog::auditOf(e);
  if (!audit.userid) return;
  switch (audit.kind) {
    case hostprog::Audit::Warned:
      ++hours_[0][hour];
      candidate_ = *audit.userid;
      break;
    case hostprog::Audit::Bumped:
      ++hours_[1][hour];
      candidate_.clear();
      break;
    case hostprog::Audit::Delayed:
      ++hours_[2][hour];
      break;
    default:
      break;
  }
}

}  // namespace board
