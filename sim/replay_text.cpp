// The replay as text for a person: the rebuilt evening as a scenario, and
// the what-if table with its differences and the footnote on what callers
// whose fate changed are taken to do.
#include <cstdio>
#include <map>

#include "sim/replay.h"

namespace sim {
namespace {

using simhost::Clock;

std::string hex2(unsigned n) {
  char b[16];
  std::snprintf(b, sizeof b, "%02X", n);
  return b;
}

// A scenario's lines for one call, each keyed by its time and trace line.
void callLines(const Call& c, std::multimap<std::pair<Clock, int>, std::string>* out) {
  const std::string ch = std::to_string(c.channel);
  bool onLine = false;
  for (const Attempt& a : c.attempts) {
    if (a.kind == Attempt::Kind::Unknown) continue;
    std::string l = "logon " + ch + " " + simhost::quote(a.userid) + " usage " +
                    std::to_string(a.at - c.arrival);
    if (a.kind == Attempt::Kind::BadPassword) l += " badpassword";
    out->insert({{a.at, a.line}, l});
    onLine = a.kind == Attempt::Kind::Password;
  }
  if (c.attempts.empty() || !onLine) {
    // Never signed on: the call held the channel at the prompt.
    out->insert({{c.arrival, c.line},
                 "occupy " + ch + " 1 \"(Login)\"  # call from " + simhost::quote(c.address)});
    if (c.departure) out->insert({{c.departure->at, c.departure->line}, "logoff " + ch});
    return;
  }
  if (c.departure)
    out->insert({{c.departure->at, c.departure->line},
                 "logoff " + ch + (c.departure->timedOut ? "  # timed out" : "")});
}

}  // namespace

std::string scenarioText(const Evening& e, const std::vector<simhost::StoredAccount>& accounts,
                         unsigned firstNumber) {
  std::string s = "# An evening rebuilt from a board's trace: " + std::to_string(e.calls.size()) +
                  " calls, " + std::to_string(e.busy.size()) +
                  " turned away busy.\n"
                  "# Each caller logs on with the usage figure he had then; a wrong password ends\n"
                  "# the visit here, where the board asked again (zorgaval-sim --replay runs the\n"
                  "# board's own route). A bumped or refused caller has no departure of his own.\n";
  s += "clock " + simhost::formatClock(e.start) + "\n";
  s += "channels " + std::to_string(e.channels) + " " + hex2(firstNumber) + "\n";
  for (const simhost::StoredAccount& a : accounts) {
    s += "account " + simhost::quote(a.userid);
    std::string keys;
    for (const std::string& k : a.keys) keys += (keys.empty() ? "" : ",") + k;
    if (!keys.empty()) s += " keys " + simhost::quote(keys);
    if (a.nocount) s += " nocount";
    s += "\n";
  }
  s += "start\n";
  std::multimap<std::pair<Clock, int>, std::string> lines;
  for (const Call& c : e.calls) callLines(c, &lines);
  for (const Busy& b : e.busy)
    lines.insert({{b.at, b.line}, "# busy: " + simhost::quote(b.address) + " turned away"});
  Clock at = e.start;
  for (const auto& [when, line] : lines) {
    if (when.first != at) s += "at " + simhost::formatClock(when.first) + "\n";
    at = when.first;
    s += line + "\n";
  }
  if (e.end != at) s += "at " + simhost::formatClock(e.end) + "\n";
  s += "shutdown\n";
  return s;
}

std::string outcomeTable(const std::vector<ReplayOutcome>& runs, Clock median) {
  const char* heads[] = {"calls", "log-ons", "warnings", "bumps", "refused", "busy", "exempt"};
  std::size_t width = 12;
  for (const ReplayOutcome& r : runs) width = std::max(width, r.label.size() + 2);
  auto row = [&](const std::string& label, const int(&v)[7], bool signs) {
    char b[32];
    std::string l = label + std::string(width - std::min(width, label.size()), ' ');
    for (int i = 0; i < 7; ++i) {
      std::snprintf(b, sizeof b, signs ? "%+9d" : "%9d", v[i]);
      l += b;
    }
    return l + "\n";
  };
  auto values = [](const ReplayOutcome& r, int(&v)[7]) {
    const int all[7] = {r.calls, r.logons, r.warnings, r.bumps, r.refused, r.busy, r.busyExempt};
    for (int i = 0; i < 7; ++i) v[i] = all[i];
  };
  std::string t = "option file" + std::string(width - 11, ' ');
  for (const char* h : heads) {
    char b[32];
    std::snprintf(b, sizeof b, "%9s", h);
    t += b;
  }
  t += "\n";
  for (const ReplayOutcome& r : runs) {
    int v[7];
    values(r, v);
    t += row(r.label, v, false);
  }
  if (runs.size() > 1) {
    t += "against " + runs.front().label + ":\n";
    int base[7];
    values(runs.front(), base);
    for (std::size_t k = 1; k < runs.size(); ++k) {
      int v[7];
      values(runs[k], v);
      for (int i = 0; i < 7; ++i) v[i] -= base[i];
      t += row(runs[k].label, v, true);
    }
  }
  t += "busy: callers turned away, every channel taken; exempt: of those, holders of the\n"
       "exempt key (option 2; a caller turned away live is known by his address only).\n"
       "Where a file changes a caller's fate: one not bumped stays until his recorded\n"
       "departure, or the evening's end; one admitted who was turned away live stays\n"
       "the evening's median call (" +
       std::to_string(median) +
       " s) at the prompt; one turned away makes none of his later moves.\n";
  return t;
}

}  // namespace sim
