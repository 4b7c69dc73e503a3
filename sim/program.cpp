// The zorgaval-sim program: the command line, then the run as its steps:
// read the scenario, prepare DIR, vet the paths, write the samples, run, and
// close with the lines of sim/closing.h.
#include "sim/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "hostprog/embedded.h"
#include "hostprog/files.h"
#include "hostprog/flags.h"
#include "hostprog/module.h"
#include "hostprog/module_files.h"
#include "hostprog/trace_out.h"
#include "hostprog/vetting.h"
#include "sim/check.h"
#include "sim/closing.h"
#include "sim/replay_program.h"
#include "sim/run.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "simhost/event.h"
#include "simhost/input.h"
#include "simhost/options.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

using hostprog::OptionFile;

const char kUsage[] =
    "usage: zorgaval-sim [--dir DIR] [--options FILE] [--module PATH] [SCENARIO]\n"
    "       zorgaval-sim --check [FILE] [--dir DIR] [--module PATH]\n"
    "       zorgaval-sim --replay TRACE [--dir DIR] [--scenario OUT] [--svg FILE]\n"
    "                    [--options FILE | OPTIONFILE...]\n"
    "       zorgaval-sim --help | --version\n";

const char kHelp[] =
    "Runs the Zor Gaval module in a substitute host, driven by a scenario file,\n"
    "and prints the trace of what happened on standard output.\n"
    "\n"
    "  SCENARIO        a scenario file, or - for standard input; without it the\n"
    "                  built-in busy evening runs\n"
    "  --dir DIR       the host's directory (made when missing); without it a new\n"
    "                  temporary directory is made\n"
    "  --options FILE  the module's message and option file, instead of DIR's\n"
    "                  zorgaval.mcv\n"
    "  --module PATH   the module to load (default: zorgaval.so beside the program,\n"
    "                  else ../lib/zorgaval/zorgaval.so from it, as installed)\n"
    "  --check [FILE]  check an option file as the module reads it (default: the\n"
    "                  --options file, else zorgaval.mcv in DIR); changes no file\n"
    "  --replay TRACE  replay a board's trace (or - for standard input) with DIR's\n"
    "                  accounts (DIR: default the current directory): under DIR's\n"
    "                  option file, or --options FILE, printing the trace; under\n"
    "                  each OPTIONFILE, printing a table; --scenario OUT writes the\n"
    "                  rebuilt scenario instead; --svg FILE draws each run\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 the scenario ran to its end; 2 a bad command line, scenario or\n"
    "option file; 3 the scenario ended with crash; 1 any other failure, and a run\n"
    "in which a data file refused a write (the closing lines say how many).\n";

const char kVersion[] = "zorgaval-sim 1.0 (module Zor Gaval 1.0W)\n";

fs::path absolutePath(const std::string& p) { return hostprog::absolutePath(p); }

// The host's directory, made ready and held against a second host: the one
// named, or a new temporary one. Every failure is a reason, never a throw.
bool prepareDir(const std::string& asked, fs::path* dir, std::string* reason) {
  if (asked.empty()) {
    std::string made = hostprog::makeScratchDir("zorgaval-sim", reason);
    if (made.empty()) return false;
    *dir = made;
  } else {
    std::error_code ec;
    *dir = fs::absolute(asked, ec).lexically_normal();
    if (!ec && !dir->has_filename()) *dir = dir->parent_path();
    if (!ec) fs::create_directories(*dir, ec);
    if (ec || !fs::is_directory(*dir, ec)) {
      *reason = shownPath(asked) + ": cannot be used as the host's directory: " +
                (ec ? ec.message() : "not a directory");
      return false;
    }
  }
  try {
    simhost::holdDirectory(dir->string());
  } catch (const simhost::Fatal& f) {
    *reason = f.what();
    return false;
  }
  return true;
}

// The scenario's bytes as the command line names it, up to its limit.
bool readScenarioText(const CommandLine& cl, std::string* label, std::string* bytes) {
  *label = cl.scenario.empty() ? "busy-evening.scn" : cl.scenario == "-" ? "stdin" : cl.scenario;
  if (cl.scenario.empty()) {
    *bytes = std::string(embedded::busy_evening_scn);
    return true;
  }
  std::string reason;
  const simhost::Input read = cl.scenario == "-"
                                  ? simhost::readStandardInput(kScenarioLimit, bytes, &reason)
                                  : simhost::readInput(cl.scenario, kScenarioLimit, bytes, &reason);
  if (read == simhost::Input::Read) return true;
  say("cannot read the scenario " + shownPath(*label) + ": " + reason);
  return false;
}

// Refuses, before any file is written, inputs that cannot be read whole
// and event log or report paths that would land on the host's own files.
bool vetted(const OptionFile& f) {
  const std::vector<std::string> errors = hostprog::vetFiles(f);
  for (const std::string& e : errors) std::cerr << e << "\n";
  std::cerr.flush();
  return errors.empty();
}

// What the runner needs: where things are, the `$N` keys from the option
// file read above, and the trace going to standard output and the closing.
RunConfig runConfig(const CommandLine& cl, const std::string& label, const OptionFile& f,
                    Closing* closing) {
  RunConfig config;
  config.scenarioLabel = label;
  config.dir = f.host.dir;
  config.optionsPath = cl.options.empty() ? "" : f.host.optionFile;
  config.modulePath =
      cl.module.empty() ? hostprog::defaultModule() : absolutePath(cl.module).string();
  config.events = [closing](const simhost::Event& e) {
    hostprog::writeTraceLine(simhost::traceLine(e));
    closing->see(e);
  };
  config.option = [&f](int n) -> OptionText {
    const std::string name = "option " + std::to_string(n);
    const std::string& file = f.host.optionLabel;
    if (!f.readable) return {"", name + ": " + file + " cannot be read: " + f.reason};
    auto e = f.parsed.entries.find(n);
    if (e == f.parsed.entries.end()) return {"", name + " is missing from " + file};
    if (e->second.broken)
      return {"", name + " is unreadable: see " + file + ":" + std::to_string(e->second.line)};
    return {e->second.value, ""};
  };
  config.beforeCrash = [dir = f.host.dir] {
    std::string line = "zorgaval-sim: crashed; directory " + shownPath(dir) + "\n";
    (void)!::write(2, line.data(), line.size());
  };
  return config;
}

// `--check`: the file named, else --options, else DIR's zorgaval.mcv.
CheckConfig checkConfig(const CommandLine& cl) {
  CheckConfig cc;
  std::error_code ec;
  const fs::path dir = cl.dir.empty() ? fs::current_path(ec) : absolutePath(cl.dir);
  const std::string file = !cl.checkFile.empty() ? cl.checkFile : cl.options;
  cc.dir = dir.string();
  cc.path = file.empty() ? (dir / hostprog::kOptionFile).string() : absolutePath(file).string();
  cc.label = file.empty() ? hostprog::kOptionFile : file;
  if (file.empty() || !cl.dir.empty()) cc.mdfPath = (dir / hostprog::kDescriptionFile).string();
  cc.modulePath = cl.module.empty() ? hostprog::defaultModule() : absolutePath(cl.module).string();
  return cc;
}

enum : int {
  kDir = 1000,
  kOptions,
  kModule,
  kCheck,
  kHelpWord,
  kVersionWord,
  kReplay,
  kScenarioOut,
  kSvg
};

const option kLongOptions[] = {
    {"dir", required_argument, nullptr, kDir},
    {"options", required_argument, nullptr, kOptions},
    {"module", required_argument, nullptr, kModule},
    {"check", optional_argument, nullptr, kCheck},
    {"help", no_argument, nullptr, kHelpWord},
    {"version", no_argument, nullptr, kVersionWord},
    {"replay", required_argument, nullptr, kReplay},
    {"scenario", required_argument, nullptr, kScenarioOut},
    {"svg", required_argument, nullptr, kSvg},
    {nullptr, 0, nullptr, 0},
};

// Where a flag's value is kept as given; null for the other flags.
std::string* valueField(CommandLine& cl, int code) {
  switch (code) {
    case kDir:
      return &cl.dir;
    case kOptions:
      return &cl.options;
    case kModule:
      return &cl.module;
    case kReplay:
      return &cl.replay;
    case kScenarioOut:
      return &cl.scenarioOut;
    case kSvg:
      return &cl.svg;
    default:
      return nullptr;
  }
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool scenarioSeen = false;
  std::string twoScenarios;  // an error only when this is not a replay
  hostprog::FlagScan scan("zorgaval-sim", args, kLongOptions, "-h");
  auto scenario = [&](const std::string& a) {
    cl.words.push_back(a);
    if (scenarioSeen && twoScenarios.empty())
      twoScenarios = "more than one scenario: \"" + cl.scenario + "\" and \"" + a + "\"";
    else if (a.empty())
      scan.fail("an empty scenario name");
    cl.scenario = scenarioSeen ? cl.scenario : a;
    scenarioSeen = true;
  };
  // "-": words that are not options come back in order, as code 1.
  for (int code; (code = scan.next()) != -1;) {
    if (std::string* field = valueField(cl, code)) {
      *field = scan.value();
    } else if (code == 1) {
      scenario(scan.value());
    } else if (code == kCheck) {
      cl.check = true;
      // `--check FILE`, as two words, as well as `--check=FILE`.
      cl.checkFile = scan.hasValue() ? scan.value() : scan.takeFollowingWord();
    } else {
      cl.help = cl.help || code == 'h' || code == kHelpWord;
      cl.version = cl.version || code == kVersionWord;
    }
  }
  for (const std::string& word : scan.rest()) scenario(word);  // after "--"
  cl.error = scan.error();
  const bool replay = !cl.replay.empty();
  if (cl.error.empty() && !replay && !twoScenarios.empty()) cl.error = twoScenarios;
  if (cl.error.empty() && !replay && (!cl.scenarioOut.empty() || !cl.svg.empty()))
    cl.error =
        std::string(!cl.scenarioOut.empty() ? "--scenario" : "--svg") + " goes with --replay";
  if (cl.error.empty() && replay) cl.error = replayLineProblem(cl);
  if (cl.error.empty() && cl.check && scenarioSeen)
    cl.error = "--check takes an option file, not a scenario: \"" + cl.scenario + "\"";
  return cl;
}

int program(int argc, char** argv) {
  // A closed pipe on standard output is a failed write the trace writer
  // reports (exit 1, closing lines intact), not a death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  CommandLine cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    say(cl.error);
    std::cerr << kUsage;
    return 2;
  }
  if (!cl.replay.empty() && !cl.help && !cl.version) return replayProgram(cl);
  if (cl.help || cl.version || cl.check) {
    int status = 0;
    if (cl.check)
      status = checkOptionFile(checkConfig(cl));
    else
      std::cout << (cl.help ? std::string(kUsage) + "\n" + kHelp : kVersion);
    if (std::cout.flush()) return status;
    say("cannot write to standard output");
    return 1;
  }

  // The whole scenario is checked before anything is made or run.
  std::string label, bytes, reason;
  if (!readScenarioText(cl, &label, &bytes)) return 2;
  Scenario scenario = readScenario(label, bytes);
  if (!scenario.errors.empty()) {
    for (const std::string& e : scenario.errors) std::cerr << e << "\n";
    std::cerr.flush();
    return 2;
  }

  fs::path dir;
  if (!prepareDir(cl.dir, &dir, &reason)) {
    say(reason);
    return 1;
  }
  const OptionFile options = hostprog::readOptionFile(cl.options, dir.string());
  if (!vetted(options)) {
    if (cl.dir.empty()) ::rmdir(dir.c_str());  // the new, still empty, directory
    return 2;
  }
  std::vector<std::string> samples;
  if (std::string failed = hostprog::writeSamples(dir.string(), &samples); !failed.empty()) {
    say(failed);
    return 1;
  }

  Closing closing(dir.string(), options.parsed, samples);
  std::vector<std::string> errors;
  int status = run(std::move(scenario), runConfig(cl, label, options, &closing), &errors);
  std::fflush(stdout);
  for (const std::string& e : errors) std::cerr << e << "\n";
  const int ended = closing.finish(status);
  // The built-in evening is the demo: its reader is told where it is explained.
  if (cl.scenario.empty())
    say("the busy evening, line by line: docs/demo.md, \"The demo, line by line\"");
  return ended;
}

}  // namespace sim
