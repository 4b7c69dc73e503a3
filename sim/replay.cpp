// Replays an evening: a scratch directory with a copy of the board's
// accounts and the option file (its log and report sent into the scratch),
// then each call, attempt and departure in time order through the host's
// live route, counting what the module did.
#include "sim/replay.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "hostprog/audits.h"
#include "hostprog/delays.h"
#include "hostprog/embedded.h"
#include "hostprog/files.h"
#include "hostprog/module.h"
#include "hostprog/module_files.h"
#include "hostprog/trace_out.h"
#include "sim/run.h"
#include "sim/trace.h"
#include "simhost/input.h"
#include "simhost/internal.h"
#include "simhost/options.h"
#include "simhost/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

using simhost::Clock;

// The option file's bytes with entries 28 and 29 naming files in the
// scratch directory; every other line, and so every line number, as it was.
std::string redirectOutputs(const std::string& bytes, const simhost::ParsedOptions& parsed) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  for (auto [n, name] : {std::pair<int, const char*>{28, "replay.log"}, {29, "replay.rpt"}}) {
    auto e = parsed.entries.find(n);
    if (e == parsed.entries.end() || e->second.broken) continue;
    lines[static_cast<std::size_t>(e->second.line - 1)] = std::to_string(n) + " = " + name;
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

bool writeWhole(const fs::path& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  return static_cast<bool>(f.flush());
}

// DIR's accounts (and the description file) copied, the option file
// rewritten; DIR held meanwhile, so no running board writes under the copy.
std::string prepareScratch(const ReplayConfig& config, simhost::ParsedOptions* parsed,
                           std::string* scratch) {
  std::string reason, bytes;
  if (config.optionFile.empty())
    bytes = embedded::zorgaval_mcv;
  else if (simhost::readInput(config.optionFile, simhost::kOptionFileLimit, &bytes, &reason) !=
           simhost::Input::Read)
    return "cannot read the option file " + config.optionLabel + ": " + reason;
  *parsed = simhost::parseOptionFile(config.optionLabel, bytes);
  *scratch = config.scratchDir.empty() ? hostprog::makeScratchDir("zorgaval-replay", &reason)
                                       : config.scratchDir;
  if (scratch->empty()) return reason;
  try {
    simhost::holdDirectory(config.dir);
  } catch (const simhost::Fatal& f) {
    return f.what();
  }
  std::error_code ec;
  for (const char* name : {"accounts.dat", "accounts.dat-wal", hostprog::kDescriptionFile}) {
    const fs::path from = fs::path(config.dir) / name;
    if (fs::exists(from, ec)) fs::copy_file(from, fs::path(*scratch) / name, ec);
    if (ec) return "cannot copy " + from.string() + ": " + ec.message();
  }
  if (!fs::exists(fs::path(*scratch) / hostprog::kDescriptionFile, ec))
    writeWhole(fs::path(*scratch) / hostprog::kDescriptionFile,
               std::string(embedded::zorgaval_mdf));
  if (!writeWhole(fs::path(*scratch) / hostprog::kOptionFile, redirectOutputs(bytes, *parsed)))
    return "cannot write the option file's copy in " + *scratch;
  return "";
}

std::string optionText(const simhost::ParsedOptions& p, int n) {
  auto e = p.entries.find(n);
  return e == p.entries.end() ? "" : e->second.value;
}

int hexOption(const simhost::ParsedOptions& p, int n) {
  auto v = simhost::text::readHex(optionText(p, n));
  return v ? static_cast<int>(*v) : 0;
}

// What happens next, in time order; at one second, in the trace's order.
struct Action {
  enum class Kind { Arrive, Attempt, Depart, BusyArrive, Leave } kind;
  std::size_t call = 0;  // index into the calls, or the busy records
  std::size_t attempt = 0;
};
using Agenda = std::multimap<std::pair<Clock, long>, Action>;

Agenda agendaOf(const Evening& e) {
  Agenda a;
  for (std::size_t i = 0; i < e.calls.size(); ++i) {
    const Call& c = e.calls[i];
    a.insert({{c.arrival, c.line}, {Action::Kind::Arrive, i, 0}});
    for (std::size_t k = 0; k < c.attempts.size(); ++k)
      a.insert({{c.attempts[k].at, c.attempts[k].line}, {Action::Kind::Attempt, i, k}});
    if (c.departure) a.insert({{c.departure->at, c.departure->line}, {Action::Kind::Depart, i, 0}});
  }
  for (std::size_t i = 0; i < e.busy.size(); ++i)
    a.insert({{e.busy[i].at, e.busy[i].line}, {Action::Kind::BusyArrive, i, 0}});
  return a;
}

// The board's part, played by the replay: who holds which channel.
class Engine {
 public:
  Engine(const Evening& e, const simhost::ParsedOptions& options, ReplayOutcome* out)
      : e_(e), out_(*out), median_(medianCall(e)), exemptKey_(optionText(options, 2)) {
    lo_ = hexOption(options, 17);
    hi_ = hexOption(options, 18);
    out_.rangeSize = hi_ >= lo_ ? hi_ - lo_ + 1 : 0;
    out_.threshold = std::max(0, out_.rangeSize - std::atoi(optionText(options, 15).c_str()));
  }

  simhost::LiveHooks hooks() {
    simhost::LiveHooks h;
    h.usage = [this](int ch, std::int32_t u) {
      return holder_[ch] == kNobody ? u : static_cast<std::int32_t>(simhost::clock() - since_[ch]);
    };
    h.hungUp = [this](int ch) {
      onChannel_.erase(holder_[ch]);
      holder_[ch] = kNobody;
      onLine_.erase(signedOn_[ch]);
      signedOn_[ch].clear();
      sample();
    };
    return h;
  }

  // The watched range's channels, once the host has numbered them.
  void numbered() {
    for (int ch = 0; ch < nterms; ++ch) {
      const int number = static_cast<int>(channel[ch]);
      if (number >= lo_ && number <= hi_) watched_.push_back(ch);
    }
  }

  void runAll() {
    Agenda agenda = agendaOf(e_);
    sample();
    while (!agenda.empty()) {
      auto first = agenda.begin();
      const Clock at = first->first.first;
      const Action act = first->second;
      agenda.erase(first);
      simhost::advanceTo(std::max(at, simhost::clock()));
      if (act.kind == Action::Kind::BusyArrive) {
        const long walkIn = kWalkIn - static_cast<long>(act.call);
        const int ch = arrive(walkIn);
        if (ch >= 0) agenda.insert({{at + median_, 1L << 40}, {Action::Kind::Leave, act.call, 0}});
      } else if (act.kind == Action::Kind::Leave) {
        const long walkIn = kWalkIn - static_cast<long>(act.call);
        const int ch = channelOf(walkIn);
        if (ch >= 0) leave(ch, walkIn);
      } else {
        step(act);
      }
      sample();
    }
    simhost::advanceTo(std::max(e_.end, simhost::clock()));
  }

 private:
  // A caller turned away live, admitted here: the evening has no record of
  // him but his busy line, so he is -2 - its index.
  static constexpr long kWalkIn = -2;
  static constexpr long kNobody = -1;

  void step(const Action& act) {
    const Call& c = e_.calls[act.call];
    const long id = static_cast<long>(act.call);
    if (act.kind == Action::Kind::Arrive) {
      if (arrive(id) < 0 && !c.attempts.empty() && holds(c.attempts.front().userid))
        ++out_.busyExempt;
      return;
    }
    const int ch = channelOf(id);
    if (ch < 0) return;  // turned away, bumped or refused in this run
    if (act.kind == Action::Kind::Depart) return leave(ch, id);
    attempt(ch, c.attempts[act.attempt]);
  }

  // The lowest free channel, as the board chooses; -1 every channel is taken.
  int arrive(long id) {
    for (int ch = 0; ch < nterms; ++ch) {
      if (holder_[ch] != kNobody || usroff(ch)->status != 0) continue;
      holder_[ch] = id;
      onChannel_[id] = ch;
      since_[ch] = simhost::clock();
      ++out_.calls;
      simhost::occupy(ch, 1, "(Login)");
      return ch;
    }
    ++out_.busy;
    out_.marks.push_back({simhost::clock(), Mark::Kind::Busy});
    return -1;
  }

  void attempt(int ch, const Attempt& a) {
    simhost::serve(ch);
    if (a.kind == Attempt::Kind::Unknown) return;
    if (onLine_.count(simhost::text::folded(a.userid))) {
      leave(ch, holder_[ch]);  // on line already: the board ends the call
      return;
    }
    simhost::Arrival arrival;
    arrival.channel = ch;
    arrival.userid = a.userid;
    arrival.badpassword = a.kind == Attempt::Kind::BadPassword;
    std::string why;
    if (simhost::logonAtPrompt(arrival, "(Login)", &why) == simhost::Verdict::Accepted) {
      ++out_.logons;
      signedOn_[ch] = simhost::text::folded(a.userid);
      onLine_.insert(signedOn_[ch]);
    }
  }

  void leave(int ch, long id) {
    if (holder_[ch] != id) return;
    simhost::logoff(ch);
  }

  int channelOf(long id) const {
    auto it = onChannel_.find(id);
    return it == onChannel_.end() ? -1 : it->second;
  }

  bool holds(const std::string& userid) const {
    if (exemptKey_.empty()) return false;
    auto account = simhost::findAccount(userid);
    if (!account) return false;
    for (const std::string& k : account->keys)
      if (simhost::text::equalFolded(k, exemptKey_)) return true;
    return false;
  }

  void sample() {
    int busy = 0;
    for (int ch : watched_) busy += usroff(ch)->status != 0;
    if (out_.occupancy.empty() || out_.occupancy.back().busy != busy)
      out_.occupancy.push_back({simhost::clock(), busy});
  }

  const Evening& e_;
  ReplayOutcome& out_;
  Clock median_;
  std::string exemptKey_;
  int lo_ = 0, hi_ = 0;
  std::vector<long> holder_ = std::vector<long>(HOST_MAX_CHANNELS, kNobody);         // its call
  std::vector<Clock> since_ = std::vector<Clock>(HOST_MAX_CHANNELS, 0);              // when it came
  std::vector<std::string> signedOn_ = std::vector<std::string>(HOST_MAX_CHANNELS);  // folded id
  std::unordered_set<std::string> onLine_;   // folded ids signed on
  std::unordered_map<long, int> onChannel_;  // call -> its channel
  std::vector<int> watched_;
};

// The records the board held when the evening began, stored in the
// scratch delay file before the module starts; its own open of the file
// then finds them there.
void storeHeldDelays(const Evening& e) {
  if (e.delays.empty()) return;
  HostDataFile* file = dfaOpen(hostprog::kDelayFile, DELAY_RECORD_SIZE, 0);
  if (!file) throw simhost::Fatal(1, "cannot open the scratch delay file");
  simhost::beginDataBatch(file);
  dfaSetBlk(file);
  for (const HeldDelay& d : e.delays) {
    const DelayRecord r = hostprog::makeDelayRecord(d.userid, d.date, d.time);
    dfaInsert(&r);
  }
  dfaRstBlk();
  simhost::endDataBatch(file);
}

// The module's own counts and marks, from its audit entries.
void tally(const simhost::Event& e, ReplayOutcome* out) {
  auto mark = [&](Mark::Kind k, int* n) {
    ++*n;
    out->marks.push_back({e.at, k});
  };
  const hostprog::Audit kind = hostprog::auditKind(e);
  if (kind == hostprog::Audit::Warned) mark(Mark::Kind::Warning, &out->warnings);
  if (kind == hostprog::Audit::Bumped) mark(Mark::Kind::Bump, &out->bumps);
  if (kind == hostprog::Audit::Delayed) ++out->refused;
}

}  // namespace

Clock medianCall(const Evening& evening) {
  std::vector<Clock> lengths;
  for (const Call& c : evening.calls)
    if (c.departure) lengths.push_back(c.departure->at - c.arrival);
  if (lengths.empty()) return (evening.end - evening.start) / 2;
  std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
  return lengths[lengths.size() / 2];
}

std::vector<simhost::StoredAccount> boardAccounts(const ReplayConfig& config,
                                                  std::string* problem) {
  simhost::ParsedOptions options;
  std::string scratch;
  *problem = prepareScratch(config, &options, &scratch);
  if (!problem->empty()) return {};
  std::vector<simhost::StoredAccount> found;
  try {
    simhost::Setup setup;
    setup.dir = scratch;
    simhost::reset(setup);
    found = simhost::accounts();
  } catch (const simhost::Fatal& f) {
    *problem = f.what();
  }
  simhost::close();
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return found;
}

ReplayOutcome replay(const Evening& evening, const ReplayConfig& config) {
  ReplayOutcome out;
  out.label = config.optionLabel;
  simhost::ParsedOptions options;
  std::string problem = prepareScratch(config, &options, &out.scratchDir);
  if (!problem.empty()) {
    out.errors.push_back(problem);
    out.status = 1;
    return out;
  }
  struct Closer {
    ~Closer() {
      simhost::setLiveHooks({});
      simhost::close();
    }
  } closer;
  try {
    simhost::InitRoutine init = hostprog::loadModule(config.modulePath);
    simhost::Setup setup;
    setup.dir = out.scratchDir;
    setup.clock = evening.start;
    setup.channels = std::clamp(evening.channels, 1, static_cast<int>(HOST_MAX_CHANNELS));
    setup.firstNumber = config.firstNumber;
    setup.events = [&](const simhost::Event& e) {
      tally(e, &out);
      if (config.events) config.events(e);
    };
    simhost::reset(setup);
    // A scratch evening thrown away afterwards needs no disk flush per
    // record; the module's files are the same either way.
    simhost::dataFileSettings().relaxedSync = true;
    storeHeldDelays(evening);
    Engine engine(evening, options, &out);
    engine.numbered();
    simhost::setLiveHooks(engine.hooks());
    try {
      simhost::start(init);
    } catch (const simhost::Fatal& f) {
      if (f.status != 2 || simhost::optionErrors().empty()) throw;
      for (const std::string& e : simhost::optionErrors()) out.errors.push_back(e);
      out.status = 2;
      return out;
    }
    engine.runAll();
    simhost::shutdown();
  } catch (const simhost::Fatal& f) {
    out.errors.push_back(f.what());
    out.status = f.status;
  }
  return out;
}

}  // namespace sim
