// The sysop's rows built from the host's channels and the board's calls,
// the delay file with the ends worked out, and the throttle's blocks.
#include "board/sysop/rows.h"

#include "board/core/board.h"
#include "board/core/module_options.h"
#include "board/sysop/host_watch.h"
#include "simhost/text.h"

namespace board {

std::vector<WhoRow> whoRows(Board& board, const ModuleOptions& options, const HostWatch& watch) {
  std::vector<WhoRow> rows;
  rows.reserve(static_cast<std::size_t>(nterms));
  const std::vector<std::shared_ptr<Call>> calls = board.calls();
  const std::string& candidate = watch.candidate();
  for (int ch = 0; ch < nterms; ++ch) {
    const std::shared_ptr<Call>& call = calls[ch];
    WhoRow r;
    r.channel = ch;
    r.number = channel[ch];
    r.status = usroff(ch)->status;
    if (r.status != 0) r.user.assign(uacoff(ch)->userid, strnlen(uacoff(ch)->userid, USERID_SIZE));
    r.signedOn = r.status != 0 && (!call || call->signedOn());
    if (call) {
      r.transport = call->transportKind();
      r.address = call->address();
      r.carried = call->carriedText();
      r.seconds = simhost::clock() - call->since();
    }
    r.watched = r.number >= options.watchedLow && r.number <= options.watchedHigh;
    r.candidate = r.signedOn && !candidate.empty() && simhost::text::equalFolded(r.user, candidate);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::vector<DelayRow> delayRows(const std::vector<hostprog::StoredDelay>& stored,
                                const hostprog::DelayTerms& terms, hostprog::Moment now) {
  std::vector<DelayRow> rows;
  rows.reserve(stored.size());
  for (const hostprog::StoredDelay& d : stored) {
    DelayRow r{d, hostprog::delayEnd(terms, {d.date, d.time}), false, {}};
    r.holds = hostprog::delayHolds(terms, r.end, now);
    r.lifts = hostprog::delayLifts(terms, r.end, now);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::vector<DelayRow> delayRows(const hostprog::DelayTerms& terms) {
  return delayRows(hostprog::delays(), terms, {today(), ::now()});
}

std::vector<Throttle::Block> blockedRows(Board& board) {
  return board.throttle().blocked(LiveClock::Steady::now());
}

}  // namespace board
