// `zorgaval-sim --check`: copies the option file into a scratch directory
// (the event log and report pointed there too), starts the module on it,
// runs a short trial built from the file's own keys and range, and reports
// every error and warning on standard output.
#include "sim/check.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <vector>

#include "sim/embedded.h"
#include "sim/run.h"
#include "simhost/options.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

const char kCopyName[] = "zorgaval.mcv";  // how the host labels the copy
const char kBumped[] = "Check-Bumped";
const char kWatcher[] = "Check-Watcher";

// The copy the module reads: the sysop's bytes, except that entries 28 and
// 29 name files in the scratch directory, so start-up and the trial's
// clean-up write nothing outside it. Line numbers stay as they were.
std::string scratchCopy(const std::string& bytes, const simhost::ParsedOptions& parsed) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at <= bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(at));
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  const std::pair<int, const char*> outputs[] = {{28, "check.log"}, {29, "check.rpt"}};
  for (const auto& [n, name] : outputs) {
    auto e = parsed.entries.find(n);
    if (e == parsed.entries.end() || e->second.broken) continue;
    std::size_t index = static_cast<std::size_t>(e->second.line - 1);
    if (index >= lines.size()) continue;
    bool cr = !lines[index].empty() && lines[index].back() == '\r';
    lines[index] = std::to_string(n) + " = " + name + (cr ? "\r" : "");
  }
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i];
    if (i + 1 < lines.size()) out += '\n';
  }
  return out;
}

bool writeFile(const fs::path& path, std::string_view bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool good = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && good;
}

// Reads "HH:MM:SS" as the trial's starting time; false when it is not one.
bool timeOfDay(const std::string& text, TimeOfDay* t) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  int v[3];
  for (int k = 0; k < 3; ++k) {
    char hi = text[k * 3], lo = text[k * 3 + 1];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return false;
    v[k] = (hi - '0') * 10 + (lo - '0');
  }
  if (v[0] > 23 || v[1] > 59 || v[2] > 59) return false;
  *t = {v[0], v[1], v[2]};
  return true;
}

struct Report {
  std::string label;
  int errors = 0, warnings = 0;

  // The copy's name in a text, put back to the sysop's own.
  std::string relabel(std::string text) const {
    if (label == kCopyName) return text;
    std::string from = std::string(kCopyName) + ":";
    std::string quoted = simhost::quote(label);
    std::string to = quoted.substr(1, quoted.size() - 2) + ":";
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
  std::set<std::string> shownWarnings;
};

// The event part of a trace line, after "YYYY-MM-DD HH:MM:SS ".
std::string eventOf(const std::string& line) { return line.size() > 20 ? line.substr(20) : ""; }

// The trial: the bump-key holder on the first channel of the range, the
// rest of the busy threshold occupied, a watcher on a channel of his own;
// one scan, the bump, and a log-on attempt inside the delay window.
std::string trial(const simhost::ParsedOptions& parsed, const std::string& bumpKey,
                  const std::string& watcherKey, std::vector<std::string>* lines) {
  // 256 channels numbered from 00, so a channel number is its index too.
  std::int32_t first = simhost::readHexOption(parsed, 17, 0, 255).number;
  std::int32_t last = simhost::readHexOption(parsed, 18, 0, 255).number;
  if (first > last) std::swap(first, last);
  std::int32_t reserve = simhost::readDecimalOption(parsed, 15, 0, 255).number;
  std::int32_t scan = simhost::readDecimalOption(parsed, 16, 20, 300).number;
  std::int32_t grace = simhost::readDecimalOption(parsed, 19, 10, 120).number;
  std::int32_t threshold = last - first + 1 - reserve;
  if (threshold < 1) return "skipped: the range leaves no channel to fill";

  if (bumpKey.empty()) return "skipped: no bump key is set (options 4 to 13)";

  int watcherChannel = last < 255 ? last + 1 : first > 0 ? first - 1
                       : first + threshold <= last ? first + threshold : -1;
  if (watcherKey.empty()) watcherChannel = -1;

  // The watcher comes first: the channel served last is the one the bump
  // treats as the current user, and the current user is never told.
  if (watcherChannel >= 0) {
    simhost::Arrival watcher;
    watcher.channel = watcherChannel;
    watcher.userid = kWatcher;
    simhost::logon(watcher);
  }
  simhost::Arrival holder;
  holder.channel = first;
  holder.userid = kBumped;
  holder.usage = 100;
  simhost::logon(holder);
  for (std::int32_t n = first + 1; n < first + threshold; ++n) simhost::occupy(n, 1, "(Login)");

  simhost::advanceTo(simhost::clock() + scan);
  simhost::advanceTo(simhost::clock() + grace);
  simhost::Arrival again;
  again.channel = first;
  again.userid = kBumped;
  simhost::logon(again);
  simhost::shutdown();

  bool warned = false, bumped = false, rejected = false, told = false;
  const std::string hangup = "hangup " + std::to_string(first) + " ";
  for (const std::string& l : *lines) {
    std::string e = eventOf(l);
    if (e.rfind("deliver " + std::to_string(first) + " ", 0) == 0 && !bumped) warned = true;
    if (e.rfind(hangup, 0) == 0) bumped = true;
    if (e == "logon " + std::to_string(first) + " \"" + kBumped + "\" rejected") rejected = true;
    if (watcherChannel >= 0 && e.rfind("deliver " + std::to_string(watcherChannel) + " ", 0) == 0)
      told = true;
  }
  std::string what = std::string(kBumped) + (warned ? " was warned" : " was not warned");
  what += bumped ? ", bumped" : ", not bumped";
  what += rejected ? " and refused a log-on" : " and let in again";
  if (watcherChannel >= 0) what += told ? "; the watcher was told" : "; the watcher was not told";
  return what;
}

}  // namespace

int checkOptionFile(const CheckConfig& config) {
  Report report;
  report.label = config.label;

  std::string bytes, reason;
  if (!simhost::readWholeFile(config.path, &bytes, &reason)) {
    report.error(config.label + ": cannot read: " + reason);
    return 2;
  }
  const simhost::ParsedOptions parsed = simhost::parseOptionFile(kCopyName, bytes);

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zorgaval-check.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) {
    std::cerr << "zorgaval-sim: cannot make a scratch directory from " << pattern << ": "
              << std::strerror(errno) << "\n";
    return 1;
  }
  const fs::path scratch(name.data());
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{scratch};

  std::string mdf(embedded::zorgaval_mdf), mdfReason;
  if (!config.mdfPath.empty()) simhost::readWholeFile(config.mdfPath, &mdf, &mdfReason);
  if (!writeFile(scratch / kCopyName, scratchCopy(bytes, parsed)) ||
      !writeFile(scratch / "ZORGAVAL.MDF", mdf)) {
    std::cerr << "zorgaval-sim: cannot write into the scratch directory " << scratch.string()
              << "\n";
    return 1;
  }

  std::vector<std::string> lines;
  try {
    simhost::InitRoutine init = loadModule(config.modulePath);
    simhost::Setup setup;
    setup.dir = scratch.string();
    setup.channels = 256;
    TimeOfDay start{20, 0, 0};
    timeOfDay(simhost::readTextOption(parsed, 24).text, &start);
    setup.clock = clockOf(Date{2024, 1, 10}, start);
    setup.trace = [&](const std::string& l) { lines.push_back(l); };
    simhost::reset(setup);

    // Accounts before start, as a scenario's setup would make them: the
    // first bump key that is set, and the watcher key.
    std::string bumpKey;
    for (int n = 4; n <= 13 && bumpKey.empty(); ++n)
      bumpKey = simhost::readTextOption(parsed, n).text;
    std::string watcherKey = simhost::readTextOption(parsed, 3).text;
    bool trialPossible = true;
    try {
      simhost::setAccount(kBumped, bumpKey.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{bumpKey},
                          false);
      if (!watcherKey.empty()) simhost::setAccount(kWatcher, {watcherKey}, false);
    } catch (const simhost::Fatal& f) {
      trialPossible = false;
      report.error(std::string("a key cannot be given to an account: ") + f.what());
    }

    try {
      simhost::start(init);
    } catch (const simhost::Fatal& f) {
      if (f.status != 2) throw;  // option errors: reported from the list below
    }
    for (const std::string& e : simhost::optionErrors()) report.error(e);
    for (const std::string& l : lines) {
      std::string e = eventOf(l);
      if (e.rfind("warning ", 0) == 0) report.warning("", e);
      if (e.rfind("audit \"Zor Gaval Config Error\"", 0) == 0) report.error(e);
    }

    if (trialPossible) {
      std::size_t seen = lines.size();
      std::string outcome = trial(parsed, bumpKey, watcherKey, &lines);
      for (std::size_t i = seen; i < lines.size(); ++i) {
        std::string e = eventOf(lines[i]);
        if (e.rfind("warning ", 0) == 0) report.warning("trial run: ", e);
      }
      std::cout << "trial run: " << outcome << "\n";
    }
    simhost::close();
  } catch (const simhost::Fatal& f) {
    simhost::close();
    std::cout.flush();
    std::cerr << "zorgaval-sim: " << f.what() << "\n";
    return f.status;
  }

  auto plural = [](int n, const char* word) {
    return (n == 0 ? std::string("no") : std::to_string(n)) + " " + word + (n == 1 ? "" : "s");
  };
  std::cout << config.label << ": " << plural(report.errors, "error")
            << ", " << plural(report.warnings, "warning") << "\n";
  return report.errors ? 2 : 0;
}

}  // namespace sim
