// The zorgaval-sim program: the command line, the scenario, the host's
// directory (samples written only where missing), the run, and on standard
// error the directory, the files written and a summary of the run.
#include "sim/program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>

#include "sim/check.h"
#include "sim/embedded.h"
#include "sim/run.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "simhost/options.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

const char kUsage[] =
    "usage: zorgaval-sim [--dir DIR] [--options FILE] [--module PATH] [SCENARIO]\n"
    "       zorgaval-sim --check [FILE] [--dir DIR] [--module PATH]\n"
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
    "  --module PATH   the module to load, instead of zorgaval.so beside the program\n"
    "  --check [FILE]  check an option file as the module reads it (default: the\n"
    "                  --options file, else zorgaval.mcv in DIR); changes no file\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 the scenario ran to its end; 2 a bad command line, scenario or\n"
    "option file; 3 the scenario ended with crash; 1 any other failure.\n";

const char kVersion[] = "zorgaval-sim 1.0 (module Zor Gaval 1.0W)\n";

void say(const std::string& line) { std::cerr << "zorgaval-sim: " << line << std::endl; }

// Reads the scenario as the command line names it. Answers false with
// `reason` when it cannot be read.
bool readScenarioBytes(const std::string& name, std::string* bytes, std::string* reason) {
  if (name.empty()) {
    *bytes = std::string(embedded::busy_evening_scn);
    return true;
  }
  if (name == "-") {
    bytes->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) {
      *reason = std::strerror(errno);
      return false;
    }
    return true;
  }
  return simhost::readWholeFile(name, bytes, reason);
}

// Writes a built-in sample unless a file of that name is there already;
// O_EXCL makes "never over an existing file" hold even against a race.
// Answers 1 written, 0 already there, -1 failed (with `reason`).
int writeSample(const fs::path& path, std::string_view text, std::string* reason) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return 0;
    *reason = std::strerror(errno);
    return -1;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      ::close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    *reason = std::strerror(errno);
    return -1;
  }
  return 1;
}

// What a file looked like, to tell afterwards whether the run wrote it.
struct Look {
  bool present = false;
  std::uintmax_t size = 0;
  std::int64_t mtime = 0;  // nanoseconds
};

Look lookAt(const fs::path& path) {
  struct stat st;
  Look l;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    l.present = true;
    l.size = static_cast<std::uintmax_t>(st.st_size);
    l.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return l;
}

// The files the closing lines report on: everything in DIR, plus the event
// log and report when options 28 and 29 put them elsewhere.
struct Watch {
  fs::path dir;
  std::map<std::string, std::string> labels;  // path -> what it is
  std::map<std::string, Look> before;

  std::vector<fs::path> files() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.is_regular_file(ec)) out.push_back(entry.path());
    for (const auto& [path, label] : labels)
      if (fs::path(path).parent_path() != dir) out.push_back(path);
    std::sort(out.begin(), out.end());  // the closing lines in a steady order
    return out;
  }
  void snapshot() {
    for (const fs::path& p : files()) before[p.string()] = lookAt(p);
  }
  std::string shown(const fs::path& p) const {
    return p.parent_path() == dir ? p.filename().string() : p.string();
  }
};

// The file named by option 28 or 29 as the module will open it: a relative
// path is taken from DIR, where the host works. Empty when the option gives
// no usable path (the run has then stopped on the option file).
fs::path outputPath(const simhost::ParsedOptions& options, int n, const fs::path& dir) {
  simhost::OptionValue v = simhost::readTextOption(options, n);
  if (!v.error.empty() || v.text.empty()) return {};
  fs::path p = fs::path(v.text).is_absolute() ? fs::path(v.text) : dir / v.text;
  return p.lexically_normal();
}

// Options 28 and 29 as the module will read them, for the closing lines.
void labelOutputs(Watch* w, const simhost::ParsedOptions& options) {
  const std::pair<int, const char*> outputs[] = {{28, "event log"}, {29, "report"}};
  for (const auto& [n, label] : outputs) {
    fs::path p = outputPath(options, n, w->dir);
    if (!p.empty()) w->labels[p.string()] = label;
  }
}

void closingLines(const Watch& w, const std::vector<std::string>& samples) {
  say("directory " + w.dir.string());
  for (const std::string& s : samples) say("wrote " + s + " (built-in sample)");
  bool any = !samples.empty();
  for (const fs::path& p : w.files()) {
    const std::string key = p.string();
    if (std::find(samples.begin(), samples.end(), p.filename().string()) != samples.end() &&
        p.parent_path() == w.dir)
      continue;
    Look now = lookAt(p);
    auto was = w.before.find(key);
    bool changed = now.present && (was == w.before.end() || !was->second.present ||
                                   was->second.size != now.size ||
                                   was->second.mtime != now.mtime);
    if (!changed) continue;
    std::string label;
    const std::string name = p.filename().string();
    auto l = w.labels.find(fs::path(key).lexically_normal().string());
    if (l != w.labels.end())
      label = l->second;
    else if (p.parent_path() == w.dir && name == "zorgaval.dat")
      label = "delay file";
    else if (p.parent_path() == w.dir && name == "accounts.dat")
      label = "account file";
    say("wrote " + w.shown(p) + (label.empty() ? "" : " (" + label + ")"));
    any = true;
  }
  if (!any) say("no file written");
}

// The last lines of a run that started the module, for a person rather than
// a script: what the evening came to, and the full paths of the three files
// a sysop opens next, so they can be read without looking up options 28/29.
void summaryLines(const TraceTally& tally, const simhost::ParsedOptions& options,
                  const fs::path& dir) {
  auto yes = [&](int n) {
    simhost::OptionValue v = simhost::readYesNoOption(options, n);
    return v.error.empty() && v.number != 0;
  };
  say(tally.summary(yes(21), yes(22), yes(26)));
  auto where = [](const fs::path& p, const char* off) {
    if (p.empty()) return std::string("unknown: its option gives no usable path");
    if (*off) return p.string() + " (" + off + ")";
    return p.string() + (lookAt(p).present ? "" : " (none yet)");
  };
  say("event log:  " + where(outputPath(options, 28, dir), yes(27) ? "" : "off: option 27 is NO"));
  say("report:     " + where(outputPath(options, 29, dir), ""));
  say("delay file: " + where(dir / "zorgaval.dat", ""));
}

// The host's directory, made ready: the one named, or a new temporary one.
bool prepareDir(const std::string& asked, fs::path* dir, std::string* reason) {
  std::error_code ec;
  if (asked.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zorgaval-sim.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
      *reason = "cannot make a temporary directory from " + pattern + ": " + std::strerror(errno);
      return false;
    }
    *dir = fs::path(name.data());
    return true;
  }
  *dir = fs::absolute(asked, ec).lexically_normal();
  if (dir->has_filename() == false) *dir = dir->parent_path();
  fs::create_directories(*dir, ec);
  if (!fs::is_directory(*dir)) {
    *reason = asked + ": cannot be used as the host's directory: " +
              (ec ? ec.message() : "not a directory");
    return false;
  }
  return true;
}

fs::path absolutePath(const std::string& p) {
  std::error_code ec;
  return fs::absolute(p, ec).lexically_normal();
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool scenarioSeen = false, optionsEnded = false;
  bool dirSeen = false, optionsSeen = false, moduleSeen = false;
  for (std::size_t i = 0; i < args.size() && cl.error.empty(); ++i) {
    std::string a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
      if (scenarioSeen) {
        cl.error = "more than one scenario: \"" + cl.scenario + "\" and \"" + a + "\"";
      } else if (a.empty()) {
        cl.error = "an empty scenario name";
      } else {
        cl.scenario = a;
        scenarioSeen = true;
      }
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      inlineValue = true;
    }
    auto takeValue = [&](bool* seen, std::string* into) {
      if (*seen) {
        cl.error = a + " given twice";
        return;
      }
      *seen = true;
      if (!inlineValue) {
        if (i + 1 == args.size()) {
          cl.error = a + " needs a value";
          return;
        }
        value = args[++i];
      }
      if (value.empty()) cl.error = a + " needs a value";
      *into = value;
    };
    if (a == "--dir") {
      takeValue(&dirSeen, &cl.dir);
    } else if (a == "--options") {
      takeValue(&optionsSeen, &cl.options);
    } else if (a == "--module") {
      takeValue(&moduleSeen, &cl.module);
    } else if (a == "--check") {
      if (cl.check) {
        cl.error = "--check given twice";
      } else {
        cl.check = true;
        if (inlineValue) {
          cl.checkFile = value;
          if (value.empty()) cl.error = "--check= needs a file name";
        } else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
          cl.checkFile = args[++i];
        }
      }
    } else if ((a == "--help" || a == "-h") && !inlineValue) {
      cl.help = true;
    } else if (a == "--version" && !inlineValue) {
      cl.version = true;
    } else {
      cl.error = "unknown option \"" + args[i] + "\"";
    }
  }
  if (cl.error.empty() && cl.check && scenarioSeen)
    cl.error = "--check takes an option file, not a scenario: \"" + cl.scenario + "\"";
  return cl;
}

int program(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine cl = parseCommandLine(args);
  if (!cl.error.empty()) {
    say(cl.error);
    std::cerr << kUsage;
    return 2;
  }
  if (cl.help) {
    std::cout << kUsage << "\n" << kHelp;
    return 0;
  }
  if (cl.version) {
    std::cout << kVersion;
    return 0;
  }

  const std::string modulePath =
      cl.module.empty() ? moduleBesideExecutable() : absolutePath(cl.module).string();

  if (cl.check) {
    CheckConfig cc;
    const std::string file = !cl.checkFile.empty() ? cl.checkFile : cl.options;
    if (file.empty()) {
      std::error_code ec;
      fs::path dir = cl.dir.empty() ? fs::current_path(ec) : absolutePath(cl.dir);
      cc.path = (dir / "zorgaval.mcv").string();
      cc.label = "zorgaval.mcv";
      cc.mdfPath = (dir / "ZORGAVAL.MDF").string();
    } else {
      cc.path = absolutePath(file).string();
      cc.label = file;
      if (!cl.dir.empty()) cc.mdfPath = (absolutePath(cl.dir) / "ZORGAVAL.MDF").string();
    }
    cc.modulePath = modulePath;
    return checkOptionFile(cc);
  }

  // The whole scenario is checked before anything is made or run.
  const std::string label = cl.scenario.empty() ? "busy-evening.scn"
                            : cl.scenario == "-" ? "stdin"
                                                 : cl.scenario;
  std::string bytes, reason;
  if (!readScenarioBytes(cl.scenario, &bytes, &reason)) {
    say("cannot read the scenario " + label + ": " + reason);
    return 2;
  }
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
  std::vector<std::string> samples;
  const std::pair<const char*, std::string_view> builtIn[] = {
      {"zorgaval.mcv", embedded::zorgaval_mcv}, {"ZORGAVAL.MDF", embedded::zorgaval_mdf}};
  for (const auto& [name, text] : builtIn) {
    int wrote = writeSample(dir / name, text, &reason);
    if (wrote < 0) {
      say("cannot write the sample " + (dir / name).string() + ": " + reason);
      return 1;
    }
    if (wrote) samples.push_back(name);
  }

  // The option file in use, read here for `$N` keys and the closing lines;
  // the module reads it again, itself, when it starts.
  const std::string optionsPath =
      cl.options.empty() ? (dir / "zorgaval.mcv").string() : absolutePath(cl.options).string();
  const std::string optionsLabel = cl.options.empty() ? "zorgaval.mcv" : cl.options;
  std::string optionBytes;
  simhost::ParsedOptions options;
  bool optionsRead = simhost::readWholeFile(optionsPath, &optionBytes, &reason);
  if (optionsRead) options = simhost::parseOptionFile(optionsLabel, optionBytes);

  Watch watch;
  watch.dir = dir;
  labelOutputs(&watch, options);
  watch.snapshot();

  RunConfig config;
  config.scenarioLabel = label;
  config.dir = dir.string();
  config.optionsPath = cl.options.empty() ? "" : optionsPath;
  config.modulePath = modulePath;
  TraceTally tally;
  bool traced = false;  // the module started: its registration is traced first
  config.trace = [&](const std::string& line) {
    writeTraceLine(line);
    traced = true;
    tally.see(line);
  };
  config.option = [&](int n) -> OptionText {
    const std::string name = "option " + std::to_string(n);
    if (!optionsRead) return {"", name + ": " + optionsLabel + " cannot be read: " + reason};
    auto e = options.entries.find(n);
    if (e == options.entries.end()) return {"", name + " is missing from " + optionsLabel};
    if (e->second.broken)
      return {"", name + " is unreadable: see " + optionsLabel + ":" +
                      std::to_string(e->second.line)};
    return {e->second.value, ""};
  };
  config.beforeCrash = [&] {
    std::string line = "zorgaval-sim: crashed; directory " + dir.string() + "\n";
    (void)!::write(2, line.data(), line.size());
  };

  std::vector<std::string> errors;
  int status = run(std::move(scenario), config, &errors);
  std::cout.flush();
  std::fflush(stdout);
  for (const std::string& e : errors) std::cerr << e << "\n";
  closingLines(watch, samples);
  if (traced) summaryLines(tally, options, dir);
  return status;
}

}  // namespace sim
