// The replay's steps: read and check the whole trace, then write the
// rebuilt scenario, or run it under one option file with its trace and
// closing lines, or under several with the table; and the picture.
#include "sim/replay_program.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "hostprog/embedded.h"
#include "hostprog/files.h"
#include "hostprog/module.h"
#include "hostprog/module_files.h"
#include "hostprog/trace_out.h"
#include "sim/closing.h"
#include "sim/replay.h"
#include "sim/replay_runs.h"
#include "sim/replay_svg.h"
#include "sim/run.h"
#include "sim/trace.h"
#include "simhost/event.h"
#include "simhost/input.h"
#include "simhost/options.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

fs::path absolute(const std::string& p) {
  std::error_code ec;
  return fs::absolute(p, ec).lexically_normal();
}

bool writeOut(const std::string& path, const std::string& text) {
  if (path == "-") {
    std::cout << text;
    return static_cast<bool>(std::cout.flush());
  }
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (f.flush()) return true;
  say("cannot write " + shownPath(path));
  return false;
}

// Errors of the option file name the copy the host read; the sysop knows
// it by his own name.
void printErrors(const ReplayOutcome& r) {
  for (std::string e : r.errors) {
    if (e.starts_with(hostprog::kOptionFile))
      e = r.label + e.substr(std::strlen(hostprog::kOptionFile));
    std::cerr << e << "\n";
  }
  std::cerr.flush();
}

ReplayConfig baseConfig(const CommandLine& cl, const fs::path& dir) {
  ReplayConfig c;
  c.dir = dir.string();
  c.modulePath = cl.module.empty() ? hostprog::defaultModule() : absolute(cl.module).string();
  return c;
}

// One run with its trace on standard output and the usual closing lines.
int traced(const CommandLine& cl, const Evening& e, ReplayConfig c) {
  std::string reason;
  const std::string svg = cl.svg.empty() ? "" : absolute(cl.svg).string();
  c.scratchDir = hostprog::makeScratchDir("zorgaval-replay", &reason);
  if (c.scratchDir.empty()) {
    say(reason);
    return 1;
  }
  Closing closing(c.scratchDir,
                  c.optionFile.empty()
                      ? simhost::parseOptionFile(c.optionLabel, embedded::zorgaval_mcv)
                      : simhost::loadOptionFile(c.optionFile),
                  {});
  c.events = [&closing](const simhost::Event& e) {
    hostprog::writeTraceLine(simhost::traceLine(e));
    closing.see(e);
  };
  ReplayOutcome r;
  try {
    r = replay(e, c);
  } catch (const simhost::Fatal& f) {
    r.errors.push_back(f.what());
    r.status = f.status;
  }
  std::fflush(stdout);
  printErrors(r);
  if (!svg.empty() && !writeOut(svg, replaySvg({r}, e.start, e.end))) return 1;
  return closing.finish(r.status);
}

int compared(const CommandLine& cl, const Evening& e, const ReplayConfig& base) {
  std::vector<ReplayOutcome> runs;
  int status = 0;
  // Taken now: each run's host works inside its own scratch directory.
  std::vector<std::string> paths;
  for (const std::string& file : cl.words) paths.push_back(absolute(file).string());
  const std::string svg = cl.svg.empty() ? "" : absolute(cl.svg).string();
  std::vector<ReplayConfig> configs;
  for (std::size_t i = 0; i < cl.words.size(); ++i) {
    ReplayConfig c = base;
    c.optionFile = paths[i];
    c.optionLabel = cl.words[i];
    configs.push_back(c);
  }
  for (ReplayOutcome& run : replayAll(e, configs)) {
    printErrors(run);
    std::error_code ec;
    if (run.status == 0) fs::remove_all(run.scratchDir, ec);
    status = std::max(status, run.status);
    runs.push_back(std::move(run));
  }
  if (status != 0) return status;
  if (!writeOut("-", outcomeTable(runs, medianCall(e)))) return 1;
  if (!svg.empty() && !writeOut(svg, replaySvg(runs, e.start, e.end))) return 1;
  return 0;
}

}  // namespace

std::string replayLineProblem(const CommandLine& cl) {
  if (cl.check) return "--check does not go with --replay";
  if (!cl.options.empty() && !cl.words.empty())
    return "--options and option files after the trace: give one or the other";
  if (!cl.scenarioOut.empty() && (!cl.words.empty() || !cl.svg.empty()))
    return "--scenario writes the rebuilt scenario and runs nothing: no option file or --svg";
  return "";
}

int replayProgram(const CommandLine& cl) {
  const std::string label = cl.replay == "-" ? "stdin" : cl.replay;
  std::string bytes, reason;
  const simhost::Input read = cl.replay == "-"
                                  ? simhost::readStandardInput(kScenarioLimit, &bytes, &reason)
                                  : simhost::readInput(cl.replay, kScenarioLimit, &bytes, &reason);
  if (read != simhost::Input::Read) {
    say("cannot read the trace " + shownPath(label) + ": " + reason);
    return 2;
  }
  const Evening evening = readBoardTrace(label, bytes);
  if (!evening.errors.empty()) {
    for (const std::string& e : evening.errors) std::cerr << e << "\n";
    return 2;
  }
  std::error_code ec;
  // The directory the trace's board ran in, if it names it.
  const fs::path dir = !cl.dir.empty()        ? absolute(cl.dir)
                       : !evening.dir.empty() ? fs::path(evening.dir)
                                              : fs::current_path(ec);
  if (!fs::is_directory(dir, ec)) {
    say(shownPath(dir.string()) + ": not the board's directory (no such directory)");
    return 1;
  }
  ReplayConfig base = baseConfig(cl, dir);
  base.firstNumber = evening.firstNumber;
  if (!cl.scenarioOut.empty()) {
    std::vector<simhost::StoredAccount> accounts = boardAccounts(base, &reason);
    if (!reason.empty()) {
      say(reason);
      return 1;
    }
    return writeOut(cl.scenarioOut, scenarioText(evening, accounts, base.firstNumber)) ? 0 : 1;
  }
  if (!cl.words.empty()) return compared(cl, evening, base);
  const fs::path own = dir / hostprog::kOptionFile;
  base.optionFile = !cl.options.empty()   ? absolute(cl.options).string()
                    : fs::exists(own, ec) ? own.string()
                                          : "";
  base.optionLabel = cl.options.empty() ? hostprog::kOptionFile : cl.options;
  return traced(cl, evening, base);
}

}  // namespace sim
