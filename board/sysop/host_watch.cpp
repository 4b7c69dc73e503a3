// The trace lines read back for the console: audit entries name the
// warned, bumped and delayed user; hang-ups end a candidate's watch.
#include "board/sysop/host_watch.h"

#include <vector>

#include "hostprog/audits.h"
#include "simhost/text.h"

namespace board {

namespace {

// The quoted words after the event, as far as they read.
std::vector<std::string> quotedWords(const std::string& line, std::size_t from) {
  std::vector<std::string> words;
  while (from < line.size()) {
    const std::size_t open = line.find('"', from);
    if (open == std::string::npos) break;
    simhost::text::Unquoted w = simhost::text::unquote(line, open, false);
    if (w.fault != simhost::text::QuoteFault::None) break;
    words.push_back(std::move(w.text));
    from = w.end;
  }
  return words;
}

}  // namespace

HostWatch& hostWatch() {
  static HostWatch watch;
  return watch;
}

void HostWatch::see(const std::string& line) {
  if (line.size() < 21 || line[10] != ' ' || line[19] != ' ') return;
  const std::string day = line.substr(0, 10);
  if (day != day_) {
    day_ = day;
    since_ = line.substr(11, 8);
    hours_ = {};
  }
  const int hour = (line[11] - '0') * 10 + (line[12] - '0');
  if (hour < 0 || hour > 23) return;
  const std::size_t eventAt = 20;
  const std::size_t eventEnd = line.find(' ', eventAt);
  const std::string event = line.substr(eventAt, eventEnd - eventAt);
  if (event == "hangup") {
    ++hours_[3][hour];
    const std::vector<std::string> w = quotedWords(line, eventEnd);
    if (!w.empty() && simhost::text::equalFolded(w[0], candidate_)) candidate_.clear();
    return;
  }
  const hostprog::AuditEntry audit = hostprog::auditIn(std::string_view(line).substr(eventAt));
  if (audit.detail.rfind("User-ID: ", 0) != 0) return;
  switch (audit.kind) {
    case hostprog::Audit::Warned:
      ++hours_[0][hour];
      candidate_ = audit.detail.substr(9);
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
