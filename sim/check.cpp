// `zorgaval-sim --check`: copies the option file into a scratch directory
// (the event log and report pointed there too), and runs a short trial
// written as scenario text through the scenario reader and runner; when the
// file's settings cannot carry the trial, its messages 35 to 39 are tried
// under the sample's settings. Reports every error and warning on
// standard output.
#include "sim/check.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <vector>

#include "hostprog/audits.h"
#include "hostprog/embedded.h"
#include "hostprog/files.h"
#include "hostprog/module_files.h"
#include "hostprog/vetting.h"
#include "hostprog/warnings.h"
#include "sim/closing.h"
#include "sim/run.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "simhost/event.h"
#include "simhost/input.h"
#include "simhost/options.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

using hostprog::makeScratchDir;
using hostprog::vetInput;
using hostprog::vetOutputs;

const char* const kCopyName = hostprog::kOptionFile;  // how the host labels the copy
const char kTrialName[] = "check trial";              // the trial scenario's label
const char kBumped[] = "Check-Bumped";
const char kWatcher[] = "Check-Watcher";

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(bytes.substr(at, end - at));
  lines.push_back(bytes.substr(at));
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i)
    out += lines[i] + (i + 1 < lines.size() ? "\n" : "");
  return out;
}

// Puts `text` on entry n's line (kept with its CR), or appends it.
void setEntry(std::vector<std::string>* lines, const simhost::ParsedOptions& parsed, int n,
              const std::string& text) {
  auto e = parsed.entries.find(n);
  if (e == parsed.entries.end() || e->second.line < 1 ||
      static_cast<std::size_t>(e->second.line) > lines->size()) {
    lines->insert(lines->end() - 1, text);
    return;
  }
  std::string& line = (*lines)[static_cast<std::size_t>(e->second.line - 1)];
  const bool cr = !line.empty() && line.back() == '\r';
  line = text + (cr ? "\r" : "");
}

// The copy the module reads: the sysop's bytes, except that entries 28 and
// 29 name files in the scratch directory, so start-up and the trial's
// clean-up write nothing outside it. Line numbers stay as they were.
std::string scratchCopy(const std::string& bytes, const simhost::ParsedOptions& parsed) {
  std::vector<std::string> lines = splitLines(bytes);
  for (const auto& [n, name] : {std::pair<int, const char*>{28, "check.log"}, {29, "check.rpt"}})
    if (auto e = parsed.entries.find(n); e != parsed.entries.end() && !e->second.broken)
      setEntry(&lines, parsed, n, std::to_string(n) + " = " + name);
  return joinLines(lines);
}

// The sample's settings with the sysop's messages 35 to 39: a missing one
// stays missing, a broken one (reported already) keeps the sample's text.
std::string messagesUnderSample(const simhost::ParsedOptions& own) {
  const std::string sample(embedded::zorgaval_mcv);
  const simhost::ParsedOptions parsed = simhost::parseOptionFile(kCopyName, sample);
  std::vector<std::string> lines = splitLines(sample);
  for (int n = 35; n <= 39; ++n) {
    auto e = own.entries.find(n);
    if (e == own.entries.end())
      setEntry(&lines, parsed, n, "");
    else if (!e->second.broken)
      setEntry(&lines, parsed, n, std::to_string(n) + " = " + simhost::quote(e->second.value));
  }
  return scratchCopy(joinLines(lines), parsed);
}

bool writeFile(const fs::path& path, std::string_view bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool good = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && good;
}

using simhost::text::hex2;

// The watched range as the module puts it in order, and what it leaves.
struct Range {
  int first = 0, last = 0, reserve = 0;
  explicit Range(const simhost::ParsedOptions& parsed)
      : first(simhost::readHexOption(parsed, 17, 0, 255).number),
        last(simhost::readHexOption(parsed, 18, 0, 255).number),
        reserve(simhost::readDecimalOption(parsed, 15, 0, 255).number) {
    if (first > last) std::swap(first, last);
  }
  int channels() const { return last - first + 1; }
  int toFill() const { return channels() - reserve; }
  std::string explained() const {
    return "the watched range runs from channel " + hex2(first) + " to " + hex2(last) + ", " +
           counted(channels(), "channel", "channels") + ", and option 15 keeps " +
           std::to_string(reserve) + " free: no channel is left to fill, so nobody is ever bumped";
  }
};

// The trial as scenario text: the bump-key holder on the first channel of
// the range, the rest of the busy threshold occupied, a watcher on a
// channel of his own; one scan, the bump, and a log-on again inside the
// delay window. `skipped` says why there is no trial.
struct Trial {
  std::string text;
  std::string skipped;
  int first = 0, watcher = -1, again = 0;  // the channels it uses
  bool watched() const { return watcher >= 0; }
};

Trial trialOf(const simhost::ParsedOptions& parsed) {
  Trial t;
  const Range range(parsed);
  // An account's keys are a comma-separated list, so no key holds a comma.
  auto keyOf = [&parsed](int n) {
    const std::string key = simhost::readTextOption(parsed, n).text;
    return key.find_first_of(std::string(",\0", 2)) == std::string::npos ? key : "";
  };
  int bumpKey = 0;
  for (int n = 4; n <= 13 && bumpKey == 0; ++n)
    if (!keyOf(n).empty()) bumpKey = n;
  if (range.toFill() < 1)
    t.skipped = "the range leaves no channel to fill";
  else if (bumpKey == 0)
    t.skipped = "no bump key that an account can hold is set (options 4 to 13)";
  if (!t.skipped.empty()) return t;

  const int first = range.first, threshold = range.toFill(), last = range.last;
  const int scan = simhost::readDecimalOption(parsed, 16, 20, 300).number;
  const int grace = simhost::readDecimalOption(parsed, 19, 10, 120).number;
  auto start = simhost::text::readTimeOfDay(simhost::readTextOption(parsed, 24).text);
  const simhost::text::TimeOfDay at = start ? *start : simhost::text::TimeOfDay{20, 0, 0};
  char clock[40];
  std::snprintf(clock, sizeof clock, "clock 2024-01-10 %02d:%02d:%02d\n", at.hour, at.minute,
                at.second);

  // 256 channels numbered from 00, so a channel number is its index too.
  int watcher = last < 255                  ? last + 1
                : first > 0                 ? first - 1
                : first + threshold <= last ? first + threshold
                                            : -1;
  if (keyOf(3).empty()) watcher = -1;
  std::set<int> used{first, watcher};
  for (int n = first + 1; n < first + threshold; ++n) used.insert(n);
  int again = first;  // freed by the bump, unless a free channel is left
  for (int n = 0; n < 256; ++n)
    if (!used.count(n)) {
      again = n;
      break;
    }
  t.first = first;
  t.watcher = watcher;
  t.again = again;

  t.text = std::string(clock) + "channels 256\n";
  t.text += std::string("account ") + kBumped + " keys $" + std::to_string(bumpKey) + "\n";
  if (t.watched()) t.text += std::string("account ") + kWatcher + " keys $3\n";
  t.text += "start\n";
  // The watcher comes first: the channel served last is the one the bump
  // treats as the current user, and the current user is never told.
  if (t.watched()) t.text += "logon " + std::to_string(watcher) + " " + kWatcher + "\n";
  t.text += "logon " + std::to_string(first) + " " + kBumped + " usage 100\n";
  for (int n = first + 1; n < first + threshold; ++n)
    t.text += "occupy " + std::to_string(n) + " 1 \"(Login)\"\n";
  t.text += "wait " + std::to_string(scan) + "\nwait " + std::to_string(grace) + "\n";
  t.text += "logon " + std::to_string(again) + " " + kBumped + "\nshutdown\n";
  return t;
}

struct Report {
  std::string label;
  int errors = 0, warnings = 0;
  std::set<std::string> shownWarnings;

  // The copy's name in a text, put back to the sysop's own.
  std::string relabel(std::string text) const {
    if (label == kCopyName) return text;
    const std::string from = std::string(kCopyName) + ":";
    const std::string quoted = simhost::quote(label);
    const std::string to = quoted.substr(1, quoted.size() - 2) + ":";
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
      text.replace(at, from.size(), to);
    return text;
  }
  void error(const std::string& text) {
    std::cout << relabel(text) << "\n";
    ++errors;
  }
  // A trial that scans twice formats message 35 twice; one line each.
  void warning(const std::string& prefix, const std::string& event) {
    std::string line = prefix + relabel(event);
    if (!shownWarnings.insert(line).second) return;
    std::cout << line << "\n";
    ++warnings;
  }
};

// What one pass saw in its trace: the warnings and configuration errors of
// start-up, and what the trial did to its two users.
struct Pass {
  bool inTrial = false, configError = false;
  bool warned = false, bumped = false, rejected = false, told = false;
  int status = 0;
  std::vector<std::string> errors;

  bool allMessagesShown(bool watched) const {
    return warned && bumped && rejected && (told || !watched);
  }
  std::string outcome(bool watched) const {
    std::string what = std::string(kBumped) + (warned ? " was warned" : " was not warned");
    what += bumped ? ", bumped" : ", not bumped";
    what += rejected ? " and refused a log-on" : " and let in again";
    if (watched) what += told ? "; the watcher was told" : "; the watcher was not told";
    return what;
  }
};

// Runs the option file `copy` with the trial (or only start-up) in `dir`.
Pass runPass(const std::string& dir, const std::string& copy, const std::string& mdf,
             const Trial& trial, const std::string& modulePath, Report* report,
             const std::string& warningPrefix) {
  Pass pass;
  std::error_code ec;
  fs::create_directory(dir, ec);
  if (ec || !writeFile(fs::path(dir) / kCopyName, copy) ||
      !writeFile(fs::path(dir) / hostprog::kDescriptionFile, mdf)) {
    pass.status = 1;
    pass.errors.push_back("cannot write into the scratch directory " + dir);
    return pass;
  }
  const simhost::ParsedOptions parsed = simhost::parseOptionFile(kCopyName, copy);
  RunConfig config;
  config.scenarioLabel = kTrialName;
  config.dir = dir;
  config.modulePath = modulePath;
  config.option = [&parsed](int n) -> OptionText {
    simhost::OptionValue v = simhost::readTextOption(parsed, n);
    return {v.text, v.error};
  };
  config.events = [&](const simhost::Event& e) {
    using simhost::EventKind;
    if (e.kind == EventKind::Logon) pass.inTrial = true;
    if (e.kind == EventKind::Warning)
      report->warning(pass.inTrial ? "trial run: " : warningPrefix, simhost::eventText(e));
    if (!pass.inTrial && hostprog::auditKind(e) == hostprog::Audit::ConfigError) {
      report->error(simhost::eventText(e));
      pass.configError = true;
    }
    const bool deliver = e.kind == EventKind::Deliver;
    if (deliver && e.channel == trial.first && !pass.bumped) pass.warned = true;
    if (e.kind == EventKind::Hangup && e.channel == trial.first) pass.bumped = true;
    if (e.kind == EventKind::Logon && e.channel == trial.again && e.userid == kBumped &&
        !e.accepted)
      pass.rejected = true;
    if (trial.watched() && deliver && e.channel == trial.watcher) pass.told = true;
  };
  const std::string text = trial.skipped.empty() ? trial.text : "start\n";
  pass.status = run(readScenario(kTrialName, text), config, &pass.errors);
  return pass;
}

// The description file the trial runs with: DIR's own, or the sample where
// it is missing, as a run writes it; an endless one is an error.
std::string descriptionFile(const CheckConfig& config, Report* report) {
  std::string mdf(embedded::zorgaval_mdf);
  if (config.mdfPath.empty()) return mdf;
  std::string own, why;
  if (std::string e = vetInput(config.mdfPath, config.mdfPath, "the module description file");
      !e.empty())
    report->error(e);
  else if (auto read = simhost::readInput(config.mdfPath, simhost::kOptionFileLimit, &own, &why);
           read == simhost::Input::Read)
    mdf = own;
  else if (read == simhost::Input::Refused)
    report->error(shownPath(config.mdfPath) + ": cannot read: " + why);
  return mdf;
}

// The file's own settings: start-up, then the trial when they allow one;
// then messages 35 to 39 under the sample's settings where needed. Answers
// false when the module itself could not be run.
bool runTrials(const CheckConfig& config, const std::string& bytes,
               const simhost::ParsedOptions& parsed, const std::string& mdf,
               const std::string& scratch, Report* reportOut) {
  Report& report = *reportOut;
  const Trial own = trialOf(parsed);
  Pass first = runPass(scratch + "/own", scratchCopy(bytes, parsed), mdf, own, config.modulePath,
                       &report, "");
  if (first.status == 1) {
    std::cout.flush();
    for (const std::string& e : first.errors) say(e);
    return false;
  }
  for (const std::string& e : first.errors) report.error(e);
  if (first.configError) std::cout << config.label << ": " << Range(parsed).explained() << "\n";
  const bool trialRan = own.skipped.empty() && first.status == 0;
  if (!own.skipped.empty())
    std::cout << "trial run: skipped: " << own.skipped << "\n";
  else if (first.status == 0)
    std::cout << "trial run: " << first.outcome(own.watched()) << "\n";
  else
    std::cout << "trial run: skipped: the module did not start (see the errors above)\n";

  // Messages 35 to 39 the trial could not reach are formatted all the same,
  // by the module, under the sample's settings.
  if (!trialRan || !first.allMessagesShown(own.watched())) {
    const std::string copy = messagesUnderSample(parsed);
    const Trial sample = trialOf(simhost::parseOptionFile(kCopyName, copy));
    Pass second = runPass(scratch + "/messages", copy, mdf, sample, config.modulePath, &report,
                          "trial run: ");
    if (second.status == 0)
      std::cout << "trial of messages 35 to 39 under the sample's settings: "
                << second.outcome(sample.watched()) << "\n";
  }

  return true;
}

}  // namespace

int checkOptionFile(const CheckConfig& config) {
  Report report;
  report.label = config.label;

  std::string bytes, reason;
  if (simhost::readInput(config.path, simhost::kOptionFileLimit, &bytes, &reason) !=
      simhost::Input::Read) {
    report.error(shownPath(config.label) + ": cannot read: " + reason);
    return 2;
  }
  const simhost::ParsedOptions parsed = simhost::parseOptionFile(kCopyName, bytes);
  for (const std::string& e : vetOutputs(parsed, {config.dir, config.path, kCopyName}))
    report.error(e);
  const hostprog::OptionFile own{{config.dir, config.path, kCopyName}, true, "", parsed};
  for (const std::string& w : hostprog::optionWarnings(own)) report.warning("warning: ", w);

  const std::string mdf = descriptionFile(config, &report);

  const std::string scratch = makeScratchDir("zorgaval-check", &reason);
  if (scratch.empty()) {
    say("cannot make a scratch directory: " + reason);
    return 1;
  }
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{scratch};

  if (!runTrials(config, bytes, parsed, mdf, scratch, &report)) return 1;

  auto plural = [](int n, const char* word) {
    return (n == 0 ? std::string("no") : std::to_string(n)) + " " + word + (n == 1 ? "" : "s");
  };
  std::cout << config.label << ": " << plural(report.errors, "error") << ", "
            << plural(report.warnings, "warning") << "\n";
  return report.errors ? 2 : 0;
}

}  // namespace sim
