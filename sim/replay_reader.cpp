// Reads a board's trace line by line into its events (hostprog's reader,
// which checks each against what the board writes); then sorts each
// hang-up into the caller's own departure or the module's doing (a bump,
// a refused log-on).
#include "sim/replay_reader.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "hostprog/audits.h"
#include "hostprog/event_read.h"
#include "simhost/text.h"

namespace sim {
namespace {

using simhost::Clock;
using simhost::Event;
using Kind = simhost::EventKind;
namespace text = simhost::text;

std::optional<int> number(std::string_view s, std::size_t from, std::size_t n) {
  auto v = text::readDecimal(s.substr(from, n));
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

// A packed stamp as hostprog::packedStamp shows it: any the two fields
// hold, so a damaged stored stamp still reads back to the same bits.
std::optional<HeldDelay> heldStamp(std::string_view date, std::string_view time) {
  if (date.size() != 10 || time.size() != 8 || date[4] != '-' || date[7] != '-' || time[2] != ':' ||
      time[5] != ':')
    return std::nullopt;
  auto y = number(date, 0, 4), mo = number(date, 5, 2), d = number(date, 8, 2);
  auto h = number(time, 0, 2), mi = number(time, 3, 2), se = number(time, 6, 2);
  if (!y || !mo || !d || !h || !mi || !se || *y < 1980 || *y > 2107 || *mo > 15 || *d > 31 ||
      *h > 31 || *mi > 63 || *se > 62 || *se % 2 != 0)
    return std::nullopt;
  HeldDelay held;
  held.date = static_cast<std::uint16_t>((*y - 1980) << 9 | *mo << 5 | *d);
  held.time = static_cast<std::uint16_t>(*h << 11 | *mi << 5 | *se / 2);
  return held;
}

// Follows the calls through the events. What the module did is told apart
// by its own events: a hang-up right after the refused log-on it belongs to,
// or one in a run of the module's events (same second) that delivered to or
// audited a bump of that caller.
class Reader {
 public:
  Reader(std::string_view label, Evening* e) : label_(label), e_(*e) {}

  void see(int lineNo, const Event& l) {
    if (seenAny_ && l.at < last_) {
      fail(lineNo, "the clock goes back, to " + simhost::formatClock(l.at));
      return;
    }
    if (!seenAny_) e_.start = l.at;
    seenAny_ = true;
    if (l.at != last_ || !moduleEvent(l.kind)) runDeliveries_.clear(), runBumped_.clear();
    last_ = l.at;
    e_.end = l.at;
    const bool afterRefusal = refusedOn_ >= 0;
    const int refusedOn = refusedOn_;
    refusedOn_ = -1;
    const bool opening = opening_;
    opening_ = false;
    switch (l.kind) {
      case Kind::Board:
        return board(lineNo, l);
      case Kind::Delay:
        return held(lineNo, l, opening);
      case Kind::Call:
        return arrive(lineNo, l);
      case Kind::Busy:
        e_.busy.push_back({lineNo, l.at, l.address});
        if (!boardLine_) e_.channels = std::max(e_.channels, static_cast<int>(open_.size()));
        return;
      case Kind::Shutdown:
        shutdown_ = true;
        return;
      case Kind::Deliver:
        runDeliveries_.insert(l.channel);
        return;
      case Kind::Audit: {
        const hostprog::AuditEntry audit = hostprog::auditOf(l);
        if (audit.kind == hostprog::Audit::Bumped && audit.userid)
          runBumped_.insert(text::folded(*audit.userid));
        return;
      }
      case Kind::Logon:
      case Kind::Unknown:
      case Kind::Timeout:
        // A guess before any channel was taken plays no part in an evening.
        if (l.channel >= 0) attempt(lineNo, l);
        return;
      case Kind::Hangup:
        return hangup(lineNo, l, afterRefusal && refusedOn == l.channel);
      default:
        return;
    }
  }

  void finish() {
    // Without calls the lines on channels are all "holds no call": one
    // line says what is wrong instead.
    if (e_.calls.empty())
      e_.errors.assign(1, label_ +
                              ": no call lines: the replay needs a board's trace "
                              "(zorgaval-board's standard output), not a simulator's");
    if (!boardLine_)
      for (const Call& c : e_.calls) e_.channels = std::max(e_.channels, c.channel + 1);
  }

 private:
  static bool moduleEvent(Kind k) {
    return k == Kind::Deliver || k == Kind::Audit || k == Kind::Hangup || k == Kind::Warning;
  }

  void fail(int lineNo, const std::string& why) {
    e_.errors.push_back(label_ + ":" + std::to_string(lineNo) + ": " + why);
  }

  // The board's opening line: what the evening starts from. Only one,
  // before any call.
  void board(int lineNo, const Event& l) {
    if (boardLine_ || !e_.calls.empty())
      return fail(lineNo, boardLine_ ? "a second board line" : "a board line after the first call");
    if (l.number < 1 || l.number > HOST_MAX_CHANNELS)
      return fail(lineNo, "board: " + std::to_string(l.number) + " is not a channel count (1 to " +
                              std::to_string(HOST_MAX_CHANNELS) + ")");
    if (l.first > 0xffffffffULL - static_cast<std::uint64_t>(l.number - 1)) {
      char first[24];
      std::snprintf(first, sizeof first, "%02llX", static_cast<unsigned long long>(l.first));
      return fail(lineNo,
                  std::string("board: the channel numbers from ") + first + " pass FFFFFFFF");
    }
    boardLine_ = opening_ = true;
    e_.channels = static_cast<int>(l.number);
    e_.firstNumber = static_cast<unsigned>(l.first);
    e_.dir = l.text;
  }

  // A delay record stored at the start: the lines right after the board's.
  void held(int lineNo, const Event& l, bool opening) {
    if (!opening) return fail(lineNo, "a delay line not right after the board line");
    const std::size_t blank = l.text.find(' ');
    std::optional<HeldDelay> d;
    if (blank != std::string::npos && l.text.find(' ', blank + 1) == std::string::npos)
      d = heldStamp(std::string_view(l.text).substr(0, blank),
                    std::string_view(l.text).substr(blank + 1));
    if (!d) return fail(lineNo, "delay: no stored stamp \"YYYY-MM-DD HH:MM:SS\" after the user-id");
    d->userid = l.userid;
    e_.delays.push_back(*d);
    opening_ = true;
  }

  void arrive(int lineNo, const Event& l) {
    const int ch = l.channel;
    if (boardLine_ && ch >= e_.channels)
      return fail(lineNo, "call on channel " + std::to_string(ch) + ", past the board's " +
                              std::to_string(e_.channels));
    if (open_.count(ch))
      return fail(lineNo, "call on channel " + std::to_string(ch) + ", which holds a call already");
    open_[ch] = e_.calls.size();
    timedOut_.erase(ch);
    Call c;
    c.line = lineNo;
    c.arrival = l.at;
    c.channel = ch;
    c.address = l.address;
    e_.calls.push_back(std::move(c));
  }

  Call* callOn(int lineNo, const Event& l) {
    auto it = open_.find(l.channel);
    if (it != open_.end()) return &e_.calls[it->second];
    fail(lineNo, std::string(simhost::eventWord(l.kind)) + " on channel " +
                     std::to_string(l.channel) + ", which holds no call");
    return nullptr;
  }

  // A log-on, an unknown user-id or a time-out on a call's channel.
  void attempt(int lineNo, const Event& l) {
    Call* c = callOn(lineNo, l);
    if (!c) return;
    if (l.kind == Kind::Timeout) return void(timedOut_.insert(l.channel));
    Attempt a{lineNo, l.at, l.userid, Attempt::Kind::Unknown};
    if (l.kind == Kind::Logon) {
      a.kind = l.accepted ? Attempt::Kind::Password : Attempt::Kind::BadPassword;
      c->signedOn = c->signedOn || l.accepted;
      if (!l.accepted) refusedOn_ = l.channel;
    }
    c->attempts.push_back(a);
  }

  void hangup(int lineNo, const Event& l, bool afterRefusal) {
    Call* c = callOn(lineNo, l);
    if (!c) return;
    const int ch = l.channel;
    const std::string& id = l.userid;
    const bool byModule =
        (afterRefusal && id != "(Login)") ||
        (c->signedOn && (runDeliveries_.count(ch) || runBumped_.count(text::folded(id))));
    if (byModule)
      c->endedByModule = true;
    else if (!shutdown_)
      c->departure = Departure{lineNo, l.at, timedOut_.count(ch) > 0};
    if (byModule && afterRefusal && !c->attempts.empty())
      c->attempts.back().kind = Attempt::Kind::Password;  // the module refused a good one
    open_.erase(ch);
    timedOut_.erase(ch);
  }

  std::string label_;
  Evening& e_;
  std::map<int, std::size_t> open_;  // channel -> its call
  std::set<int> timedOut_;
  std::set<int> runDeliveries_;
  std::set<std::string> runBumped_;
  int refusedOn_ = -1;
  Clock last_ = 0;
  bool seenAny_ = false, shutdown_ = false;
  bool boardLine_ = false, opening_ = false;  // opening_: the last line was board or delay
};

}  // namespace

Evening readBoardTrace(std::string_view label, std::string_view bytes) {
  Evening e;
  Reader reader(label, &e);
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t nl = bytes.find('\n', pos);
    if (nl == std::string_view::npos) nl = bytes.size();
    std::string_view raw = bytes.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    if (raw.empty() || raw == "\r") continue;
    const hostprog::ReadEvent read = hostprog::readEvent(raw);
    if (!read.event) {
      e.errors.push_back(std::string(label) + ":" + std::to_string(lineNo) + ": " + read.error);
      continue;
    }
    reader.see(lineNo, *read.event);
  }
  reader.finish();
  return e;
}

}  // namespace sim
