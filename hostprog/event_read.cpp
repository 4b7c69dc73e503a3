// The trace's lines read back: split into stamp, event word and words with
// the host's own unquoting, each kind's words checked against its shape,
// then laid into the event's fields as simhost/event.cpp writes them.
#include "hostprog/event_read.h"

#include <vector>

#include "simhost/text.h"

namespace hostprog {

namespace {

using simhost::Clock;
using simhost::EventKind;
namespace text = simhost::text;

struct Word {
  std::string text;
  bool quoted = false;
  std::size_t start = 0;  // where it begins in the line
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

// The words after the stamp, the event word first; "" or what is wrong.
std::string split(std::string_view s, std::vector<Word>* out) {
  std::size_t i = simhost::kTraceEventOffset;
  while (i < s.size()) {
    if (s[i] == ' ') {
      ++i;
      continue;
    }
    Word w;
    w.start = i;
    if (s[i] == '"') {
      text::Unquoted u = text::unquote(s, i, true);
      if (u.fault != text::QuoteFault::None) return "a quoted text that cannot be read";
      w.text = std::move(u.text);
      w.quoted = true;
      i = u.end;
    } else {
      std::size_t j = s.find(' ', i);
      if (j == std::string_view::npos) j = s.size();
      w.text = std::string(s.substr(i, j - i));
      i = j;
    }
    out->push_back(std::move(w));
  }
  return out->empty() || out->front().quoted ? "no event after the stamp" : "";
}

// The words each kind is written with: 'n' a channel index, 'w' a channel
// index or the transport of a caller who has none yet ("ssh", "console"),
// 'q' a quoted text, 'v' a log-on's verdict, 'd' a decimal, 'x' a
// hexadecimal. A last letter followed by '?' may be left out; '*' takes
// anything after (a delay's stamp, who made a sysop's change, the flags).
const char* shapeOf(EventKind kind) {
  switch (kind) {
    case EventKind::Register:
      return "dq";
    case EventKind::Logon:
      return "nqvq?";
    case EventKind::Audit:
      return "qq";
    case EventKind::Cleanup:
    case EventKind::Shutdown:
      return "";
    case EventKind::Delay:
    case EventKind::Pardon:
    case EventKind::Say:
    case EventKind::Unblock:
      return "q*";
    case EventKind::Warning:
    case EventKind::Busy:
    case EventKind::NoSignup:
      return "q";
    case EventKind::Board:
      return "dxq";
    case EventKind::Wrong:
      return "wqq";
    case EventKind::Unknown:
      return "wqq?";  // traces before the address was added
    case EventKind::Kick:
      return "n*";
    case EventKind::Blocked:
    case EventKind::TooMany:
      return "qd?";  // the count of refusals a line stands for
    case EventKind::Block:
      return "qd";
    case EventKind::Reload:
      return "*";
    default:
      return "nq";  // connect, deliver, hangup, call, timeout, newuser, overflow, garbled,
                    // carry, nobehind
  }
}

std::optional<EventKind> kindOf(std::string_view word) {
  for (int k = 0; k <= static_cast<int>(EventKind::Reload); ++k)
    if (word == simhost::eventWord(static_cast<EventKind>(k))) return static_cast<EventKind>(k);
  return std::nullopt;
}

bool transportWord(const Word& w) { return !w.quoted && (w.text == "ssh" || w.text == "console"); }

// Why word K of an event does not fit its letter, or "".
std::string misfit(const std::string& event, std::size_t k, const Word& w, char kind) {
  const bool good =
      kind == 'w' && transportWord(w) ? true
      : kind == 'q'                   ? w.quoted
      : kind == 'v'                   ? !w.quoted && (w.text == "accepted" || w.text == "rejected")
      : kind == 'n' || kind == 'w'
          ? !w.quoted && text::readDecimal(w.text) && *text::readDecimal(w.text) < HOST_MAX_CHANNELS
      : kind == 'x' ? !w.quoted && text::readHex(w.text).has_value()
                    : !w.quoted && text::readDecimal(w.text).has_value();
  if (good) return "";
  return event + ": word " + std::to_string(k + 1) + " " + simhost::quote(w.text) +
         (kind == 'q'                  ? " should be quoted"
          : kind == 'v'                ? " is not accepted or rejected"
          : kind == 'n' || kind == 'w' ? " is not a channel index"
          : kind == 'x'                ? " is not a hexadecimal number"
                                       : " is not a number");
}

// The words (past the event word) against the kind's shape.
std::string checkShape(const std::string& event, EventKind kind, const std::vector<Word>& words) {
  const std::string shape = shapeOf(kind);
  const bool loose = !shape.empty() && shape.back() == '*';
  const bool optional = !shape.empty() && shape.back() == '?';
  const std::size_t letters = loose || optional ? shape.size() - 1 : shape.size();
  const std::size_t want = optional ? letters - 1 : letters;
  const bool fits =
      loose ? words.size() >= want : words.size() == want || (optional && words.size() == letters);
  if (!fits)
    return event + " takes " + std::to_string(want) + " words, not " + std::to_string(words.size());
  for (std::size_t k = 0; k < std::min(letters, words.size()); ++k)
    if (std::string why = misfit(event, k, words[k], shape[k]); !why.empty()) return why;
  return "";
}

// The words from word K to the line's end, as written.
std::string rest(std::string_view line, const std::vector<Word>& words, std::size_t k) {
  return k < words.size() ? std::string(line.substr(words[k].start)) : std::string();
}

int channel(const Word& w) { return static_cast<int>(*text::readDecimal(w.text)); }

// Who made a sysop's change: what follows "by", as written.
std::string byOf(std::string_view line, const std::vector<Word>& w) {
  return w.size() > 1 && !w[1].quoted && w[1].text == "by" ? rest(line, w, 2) : rest(line, w, 1);
}

// The checked words of a host's own event laid into its fields.
void fillHost(std::string_view line, const std::vector<Word>& w, simhost::Event* e) {
  switch (e->kind) {
    case EventKind::Register:
      e->number = static_cast<long>(*text::readDecimal(w[0].text));
      e->text = w[1].text;
      return;
    case EventKind::Logon:
      e->accepted = w[2].text == "accepted";
      if (w.size() > 3) e->address = w[3].text;
      break;
    case EventKind::Deliver:
      e->channel = channel(w[0]);
      e->text = w[1].text;
      return;
    case EventKind::Audit:
      e->text = w[0].text;
      e->detail = w[1].text;
      return;
    case EventKind::Delay:
      e->userid = w[0].text;
      e->text = rest(line, w, 1);
      return;
    case EventKind::Warning:
      e->text = w[0].text;
      return;
    default:
      break;
  }
  if (w.size() > 1) {  // a channel and the user on it
    e->channel = channel(w[0]);
    e->userid = w[1].text;
  }
}

// The checked words of a live host's event laid into its fields.
void fillLive(std::string_view line, const std::vector<Word>& w, simhost::Event* e) {
  switch (e->kind) {
    case EventKind::Board:
      e->number = static_cast<long>(*text::readDecimal(w[0].text));
      e->first = *text::readHex(w[1].text);
      e->text = w[2].text;
      return;
    case EventKind::Carry:
    case EventKind::NoBehind:
      e->channel = channel(w[0]);
      e->text = w[1].text;
      return;
    case EventKind::Call:
    case EventKind::Overflow:
    case EventKind::Garbled:
      e->channel = channel(w[0]);
      e->address = w[1].text;
      if (e->kind == EventKind::Call) e->transport = transportOf(e->address);
      return;
    case EventKind::Wrong:
    case EventKind::Unknown:
      if (transportWord(w[0])) e->where = w[0].text;
      e->channel = transportWord(w[0]) ? -1 : channel(w[0]);
      e->userid = w[1].text;
      if (w.size() > 2) e->address = w[2].text;
      return;
    case EventKind::Pardon:
    case EventKind::Say:
    case EventKind::Unblock: {
      std::string& named = e->kind == EventKind::Pardon ? e->userid
                           : e->kind == EventKind::Say  ? e->text
                                                        : e->address;
      named = w[0].text;
      e->by = byOf(line, w);
      return;
    }
    case EventKind::Kick:
      e->channel = channel(w[0]);
      e->by = byOf(line, w);
      return;
    case EventKind::Reload:
      e->text = w.size() == 1 && w[0].text == "unchanged" ? "" : rest(line, w, 0);
      return;
    case EventKind::Timeout:
    case EventKind::NewUser:
      e->channel = channel(w[0]);
      e->userid = w[1].text;
      return;
    default:  // busy, nosignup, toomany, blocked, block: the caller or his address
      e->address = w[0].text;
      if (w.size() > 1) e->number = static_cast<long>(*text::readDecimal(w[1].text));
  }
}

}  // namespace

std::string transportOf(std::string_view caller) {
  for (std::string_view kind : {"ssh", "ws", "wss", "console"})
    if (caller.size() > kind.size() && caller.starts_with(kind) && caller[kind.size()] == ' ')
      return std::string(kind);
  return "telnet";
}

ReadEvent readEvent(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::optional<Clock> at = stamp(line);
  if (!at || (line.size() > 19 && line[19] != ' ')) return {{}, "no \"YYYY-MM-DD HH:MM:SS\" stamp"};
  std::vector<Word> words;
  if (std::string why = split(line, &words); !why.empty()) return {{}, why};
  const std::string event = words.front().text;
  words.erase(words.begin());
  const std::optional<EventKind> kind = kindOf(event);
  if (!kind) return {{}, "\"" + event + "\" is not an event the board writes"};
  if (std::string why = checkShape(event, *kind, words); !why.empty()) return {{}, why};
  simhost::Event e;
  e.kind = *kind;
  e.at = *at;
  if (e.kind < EventKind::Board)
    fillHost(line, words, &e);
  else
    fillLive(line, words, &e);
  return {e, ""};
}

}  // namespace hostprog
