// Reads a board's trace line by line: the stamp, the event and its words,
// checked against what the board writes; then sorts each hang-up into the
// caller's own departure or the module's doing (a bump, a refused log-on).
#include "sim/replay_reader.h"

#include <algorithm>
#include <map>
#include <set>

#include "hostprog/audits.h"
#include "simhost/text.h"

namespace sim {
namespace {

using simhost::Clock;
namespace text = simhost::text;

struct Word {
  std::string text;
  bool quoted = false;
};

struct Line {
  Clock at = 0;
  std::string event;
  std::vector<Word> words;
};

std::optional<int> number(std::string_view s, std::size_t from, std::size_t n) {
  if (from + n > s.size()) return std::nullopt;
  auto v = text::readDecimal(s.substr(from, n));
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

// "YYYY-MM-DD HH:MM:SS", checked against the calendar.
std::optional<Clock> stamp(std::string_view s) {
  if (s.size() < 19 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
    return std::nullopt;
  auto y = number(s, 0, 4), mo = number(s, 5, 2), d = number(s, 8, 2);
  auto h = number(s, 11, 2), mi = number(s, 14, 2), se = number(s, 17, 2);
  if (!y || !mo || !d || !h || !mi || !se || *h > 23 || *mi > 59 || *se > 59) return std::nullopt;
  const Clock c = simhost::clockFromCivil({*y, *mo, *d, *h, *mi, *se});
  const simhost::CivilTime back = simhost::civilFromClock(c);
  if (back.year != *y || back.month != *mo || back.day != *d) return std::nullopt;
  return c;
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

// One trace line split into its parts; answers "" or what is wrong.
std::string split(std::string_view s, Line* out) {
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  auto at = stamp(s);
  if (!at || (s.size() > 19 && s[19] != ' ')) return "no \"YYYY-MM-DD HH:MM:SS\" stamp";
  out->at = *at;
  std::size_t i = 20;
  while (i < s.size()) {
    if (s[i] == ' ') {
      ++i;
      continue;
    }
    Word w;
    if (s[i] == '"') {
      text::Unquoted u = text::unquote(s, i, true);
      if (u.fault != text::QuoteFault::None) return "a quoted text that cannot be read";
      w = {u.text, true};
      i = u.end;
    } else {
      std::size_t j = s.find(' ', i);
      if (j == std::string_view::npos) j = s.size();
      w.text = std::string(s.substr(i, j - i));
      i = j;
    }
    if (out->event.empty() && !w.quoted)
      out->event = w.text;
    else
      out->words.push_back(std::move(w));
  }
  return out->event.empty() ? "no event after the stamp" : "";
}

// The words each event has: 'n' a channel index, 'w' a channel index or
// the transport of a caller who has none yet ("ssh", "console"), 'q' a
// quoted text, 'v' the verdict of a log-on, 'd' a decimal, 'x' a
// hexadecimal; the board's
// own events and the host's. "*" takes anything (a delay's stamp, who
// did a sysop's change); "?" one more quoted word or none (the address the
// board adds at a line's end).
const std::map<std::string, std::string>& shapes() {
  static const std::map<std::string, std::string> m = {
      {"register", "dq"}, {"logon", "nqv?"}, {"deliver", "nq"},  {"audit", "qq"},
      {"hangup", "nq"},   {"cleanup", ""},   {"warning", "q"},   {"shutdown", ""},
      {"call", "nq"},     {"busy", "q"},     {"timeout", "nq"},  {"unknown", "wq?"},
      {"newuser", "nq"},  {"pardon", "q*"},  {"overflow", "nq"}, {"garbled", "nq"},
      {"blocked", "q*"},  {"toomany", "q*"}, {"block", "qd"},    {"unblock", "q*"},
      {"say", "q*"},      {"kick", "n*"},    {"delay", "q*"},    {"connect", "nq"},
      {"reload", "*"},    {"board", "dxq"},  {"wrong", "wqq"}};
  return m;
}

// A caller's transport in place of the channel he does not have yet.
bool transportWord(const Word& w) { return !w.quoted && (w.text == "ssh" || w.text == "console"); }

std::string checkShape(const Line& l) {
  auto it = shapes().find(l.event);
  if (it == shapes().end()) return "\"" + l.event + "\" is not an event the board writes";
  const std::string& shape = it->second;
  const bool loose = !shape.empty() && shape.back() == '*';
  const bool tail = !shape.empty() && shape.back() == '?';
  const std::size_t want = loose || tail ? shape.size() - 1 : shape.size();
  const bool tailed = tail && l.words.size() == want + 1 && l.words.back().quoted;
  if (loose ? l.words.size() < want : l.words.size() != want && !tailed)
    return l.event + " takes " + std::to_string(want) + " words, not " +
           std::to_string(l.words.size());
  for (std::size_t k = 0; k < want; ++k) {
    const Word& w = l.words[k];
    const char kind = shape[k];
    const bool good = kind == 'w' && transportWord(w) ? true
                      : kind == 'q'                   ? w.quoted
                      : kind == 'v' ? !w.quoted && (w.text == "accepted" || w.text == "rejected")
                      : kind == 'n' || kind == 'w'
                          ? !w.quoted && text::readDecimal(w.text) &&
                                *text::readDecimal(w.text) < HOST_MAX_CHANNELS
                      : kind == 'x' ? !w.quoted && text::readHex(w.text).has_value()
                                    : !w.quoted && text::readDecimal(w.text).has_value();
    if (!good)
      return l.event + ": word " + std::to_string(k + 1) + " " + simhost::quote(w.text) +
             (kind == 'q'                  ? " should be quoted"
              : kind == 'v'                ? " is not accepted or rejected"
              : kind == 'n' || kind == 'w' ? " is not a channel index"
              : kind == 'x'                ? " is not a hexadecimal number"
                                           : " is not a number");
  }
  return "";
}

// Follows the calls through the lines. What the module did is told apart
// by its own lines: a hang-up right after the refused log-on it belongs to,
// or one in a run of the module's lines (same second) that delivered to or
// audited a bump of that caller.
class Reader {
 public:
  Reader(std::string_view label, Evening* e) : label_(label), e_(*e) {}

  void see(int lineNo, const Line& l) {
    if (seenAny_ && l.at < last_) {
      fail(lineNo, "the clock goes back, to " + simhost::formatClock(l.at));
      return;
    }
    if (!seenAny_) e_.start = l.at;
    seenAny_ = true;
    if (l.at != last_ || !moduleLine(l.event)) runDeliveries_.clear(), runBumped_.clear();
    last_ = l.at;
    e_.end = l.at;
    const bool afterRefusal = refusedOn_ >= 0;
    const int refusedOn = refusedOn_;
    refusedOn_ = -1;
    const bool opening = opening_;
    opening_ = false;
    if (l.event == "board") return board(lineNo, l);
    if (l.event == "delay") return held(lineNo, l, opening);
    if (l.event == "call") return arrive(lineNo, l);
    if (l.event == "busy") {
      e_.busy.push_back({lineNo, l.at, l.words[0].text});
      if (!boardLine_) e_.channels = std::max(e_.channels, static_cast<int>(open_.size()));
      return;
    }
    if (l.event == "shutdown") shutdown_ = true, e_.end = l.at;
    if (l.event == "deliver") runDeliveries_.insert(channelOf(l));
    if (l.event == "audit" &&
        hostprog::auditKind(l.words[0].text, l.words[1].text) == hostprog::Audit::Bumped)
      runBumped_.insert(text::folded(l.words[1].text));
    // A guess before any channel was taken plays no part in an evening.
    if (l.event == "wrong" || (l.event == "unknown" && transportWord(l.words[0]))) return;
    if (l.event == "logon" || l.event == "unknown" || l.event == "timeout") {
      Call* c = callOn(lineNo, l);
      if (!c) return;
      if (l.event == "timeout") return void(timedOut_.insert(channelOf(l)));
      Attempt a{lineNo, l.at, l.words[1].text, Attempt::Kind::Unknown};
      if (l.event == "logon") {
        const bool accepted = l.words[2].text == "accepted";
        a.kind = accepted ? Attempt::Kind::Password : Attempt::Kind::BadPassword;
        c->signedOn = c->signedOn || accepted;
        if (!accepted) refusedOn_ = channelOf(l);
      }
      c->attempts.push_back(a);
      return;
    }
    if (l.event == "hangup") hangup(lineNo, l, afterRefusal && refusedOn == channelOf(l));
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
  static bool moduleLine(const std::string& event) {
    return event == "deliver" || event == "audit" || event == "hangup" || event == "warning";
  }
  static int channelOf(const Line& l) {
    return static_cast<int>(*text::readDecimal(l.words[0].text));
  }

  void fail(int lineNo, const std::string& why) {
    e_.errors.push_back(label_ + ":" + std::to_string(lineNo) + ": " + why);
  }

  // The board's opening line: what the evening starts from. Only one,
  // before any call.
  void board(int lineNo, const Line& l) {
    if (boardLine_ || !e_.calls.empty())
      return fail(lineNo, boardLine_ ? "a second board line" : "a board line after the first call");
    const std::uint64_t channels = *text::readDecimal(l.words[0].text);
    const std::uint64_t first = *text::readHex(l.words[1].text);
    if (channels < 1 || channels > HOST_MAX_CHANNELS)
      return fail(lineNo, "board: " + l.words[0].text + " is not a channel count (1 to " +
                              std::to_string(HOST_MAX_CHANNELS) + ")");
    if (first > 0xffffffffULL - (channels - 1))
      return fail(lineNo, "board: the channel numbers from " + l.words[1].text + " pass FFFFFFFF");
    boardLine_ = opening_ = true;
    e_.channels = static_cast<int>(channels);
    e_.firstNumber = static_cast<unsigned>(first);
    e_.dir = l.words[2].text;
  }

  // A delay record stored at the start: the lines right after the board's.
  void held(int lineNo, const Line& l, bool opening) {
    if (!opening) return fail(lineNo, "a delay line not right after the board line");
    std::optional<HeldDelay> d;
    if (l.words.size() == 3 && !l.words[1].quoted && !l.words[2].quoted)
      d = heldStamp(l.words[1].text, l.words[2].text);
    if (!d) return fail(lineNo, "delay: no stored stamp \"YYYY-MM-DD HH:MM:SS\" after the user-id");
    d->userid = l.words[0].text;
    e_.delays.push_back(*d);
    opening_ = true;
  }

  void arrive(int lineNo, const Line& l) {
    const int ch = channelOf(l);
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
    c.address = l.words[1].text;
    e_.calls.push_back(std::move(c));
  }

  Call* callOn(int lineNo, const Line& l) {
    auto it = open_.find(channelOf(l));
    if (it != open_.end()) return &e_.calls[it->second];
    fail(lineNo, l.event + " on channel " + l.words[0].text + ", which holds no call");
    return nullptr;
  }

  void hangup(int lineNo, const Line& l, bool afterRefusal) {
    Call* c = callOn(lineNo, l);
    if (!c) return;
    const int ch = channelOf(l);
    const std::string& id = l.words[1].text;
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
    Line l;
    std::string why = split(raw, &l);
    if (why.empty()) why = checkShape(l);
    if (!why.empty()) {
      e.errors.push_back(std::string(label) + ":" + std::to_string(lineNo) + ": " + why);
      continue;
    }
    reader.see(lineNo, l);
  }
  reader.finish();
  return e;
}

}  // namespace sim
