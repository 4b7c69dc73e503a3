// Side-by-side replays: a child per option file writes its outcome to a file
// of its own, which the parent reads back once the child has ended; a child
// that dies says so as the run's error, and the other runs go on.
#include "sim/replay_runs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "hostprog/files.h"

namespace sim {
namespace {

std::string encode(const ReplayOutcome& r) {
  std::ostringstream out;
  out << std::quoted(r.label) << ' ' << std::quoted(r.scratchDir) << ' ' << r.calls << ' '
      << r.logons << ' ' << r.warnings << ' ' << r.bumps << ' ' << r.refused << ' ' << r.busy << ' '
      << r.busyExempt << ' ' << r.rangeSize << ' ' << r.threshold << ' ' << r.status << ' '
      << r.errors.size() << ' ' << r.occupancy.size() << ' ' << r.marks.size() << '\n';
  for (const std::string& e : r.errors) out << std::quoted(e) << '\n';
  for (const Occupancy& o : r.occupancy) out << o.at << ' ' << o.busy << '\n';
  for (const Mark& m : r.marks) out << m.at << ' ' << static_cast<int>(m.kind) << '\n';
  return out.str();
}

bool decode(const std::string& text, ReplayOutcome* r) {
  std::istringstream in(text);
  std::size_t errors = 0, occupancy = 0, marks = 0;
  in >> std::quoted(r->label) >> std::quoted(r->scratchDir) >> r->calls >> r->logons >>
      r->warnings >> r->bumps >> r->refused >> r->busy >> r->busyExempt >> r->rangeSize >>
      r->threshold >> r->status >> errors >> occupancy >> marks;
  r->errors.resize(errors);
  for (std::string& e : r->errors) in >> std::quoted(e);
  r->occupancy.resize(occupancy);
  for (Occupancy& o : r->occupancy) in >> o.at >> o.busy;
  r->marks.resize(marks);
  for (Mark& m : r->marks) {
    int kind = 0;
    in >> m.at >> kind;
    m.kind = static_cast<Mark::Kind>(kind);
  }
  return static_cast<bool>(in);
}

// One run begun in a child: its process and the file it answers in.
struct Child {
  pid_t pid = -1;
  std::string answer;
  std::size_t index = 0;
};

Child begin(const Evening& evening, const ReplayConfig& config, std::size_t index,
            const std::string& answers) {
  Child child{-1, answers + "/run" + std::to_string(index), index};
  std::fflush(stdout);  // nothing buffered is written twice
  std::fflush(stderr);
  child.pid = ::fork();
  if (child.pid == 0) {
    // The child never returns into its parent's code: whatever happens it
    // ends here, its outcome written or not.
    try {
      const std::string text = encode(replay(evening, config));
      std::ofstream out(child.answer, std::ios::binary);
      out << text;
      out.flush();
      _exit(out ? 0 : 1);
    } catch (...) {
      _exit(1);
    }
  }
  return child;
}

ReplayOutcome finish(const Child& child, const ReplayConfig& config) {
  ReplayOutcome r;
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  std::ifstream in(child.answer, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && decode(text, &r)) return r;
  r = ReplayOutcome{};
  r.label = config.optionLabel;
  r.status = 1;
  r.errors.push_back(
      "the replay under " + config.optionLabel + " ended without an outcome" +
      (WIFSIGNALED(status) ? " (signal " + std::to_string(WTERMSIG(status)) + ")" : ""));
  return r;
}

}  // namespace

std::vector<ReplayOutcome> replayAll(const Evening& evening,
                                     const std::vector<ReplayConfig>& configs) {
  std::vector<ReplayOutcome> out(configs.size());
  if (configs.empty()) return out;
  std::string reason;
  const std::string answers = hostprog::makeScratchDir("zorgaval-replays", &reason);
  if (answers.empty() || configs.size() == 1) {  // one run, or nowhere to answer: in turn
    for (std::size_t i = 0; i < configs.size(); ++i) out[i] = replay(evening, configs[i]);
    return out;
  }
  simhost::holdDirectory(configs[0].dir);  // the children's too, by the lock they inherit
  const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::vector<Child> running;
  // A fork that fails runs that replay here instead, in turn.
  for (std::size_t next = 0; next < configs.size() || !running.empty();) {
    if (next < configs.size() && static_cast<long>(running.size()) < cores) {
      Child child = begin(evening, configs[next], next, answers);
      if (child.pid < 0)
        out[next] = replay(evening, configs[next]);
      else
        running.push_back(child);
      ++next;
      continue;
    }
    const Child done = running.front();  // the oldest first: they take about as long
    running.erase(running.begin());
    out[done.index] = finish(done, configs[done.index]);
    std::remove(done.answer.c_str());
  }
  ::rmdir(answers.c_str());
  return out;
}

}  // namespace sim
