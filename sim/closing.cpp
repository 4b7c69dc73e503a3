// The closing lines: each file of DIR (and the event log and report) whose
// size or time changed in the run is "wrote"; an event log or report the
// module reported as unwritable says so instead; the summary counts the
// evening and the delay records and accounts the disk refused.
#include "sim/closing.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "hostprog/audits.h"
#include "hostprog/module_files.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace sim {

void say(const std::string& line) { std::cerr << "zorgaval-sim: " << line << std::endl; }

Closing::Closing(const std::string& dir, const simhost::ParsedOptions& options,
                 std::vector<std::string> samples)
    : dir_(dir), options_(options), samples_(std::move(samples)) {
  const std::pair<int, const char*> outputs[] = {{28, "event log"}, {29, "report"}};
  for (const auto& [n, label] : outputs) {
    std::string p = outputPath(options_, n, dir_);
    if (!p.empty()) labels_[p] = label;
  }
  for (const std::string& p : files()) before_[p] = lookAt(p);
}

void Closing::see(const simhost::Event& e) {
  traced_ = true;
  tally_.see(e);
}

Closing::Look Closing::lookAt(const std::string& path) {
  struct stat st;
  Look l;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    l.present = true;
    l.size = static_cast<std::uintmax_t>(st.st_size);
    l.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return l;
}

// Everything in DIR, and the event log and report where they lie outside.
std::vector<std::string> Closing::files() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec))
    if (entry.is_regular_file(ec)) out.push_back(entry.path().string());
  for (const auto& [path, label] : labels_)
    if (fs::path(path).parent_path() != dir_) out.push_back(path);
  std::sort(out.begin(), out.end());  // the closing lines in a steady order
  return out;
}

bool Closing::changed(const std::string& path) const {
  Look now = lookAt(path);
  auto was = before_.find(path);
  return now.present && (was == before_.end() || !was->second.present ||
                         was->second.size != now.size || was->second.mtime != now.mtime);
}

void Closing::fileLines() const {
  say("directory " + shownPath(dir_));
  for (const std::string& s : samples_) say("wrote " + shownPath(s) + " (built-in sample)");
  bool any = !samples_.empty();
  for (const std::string& p : files()) {
    const fs::path path(p);
    const bool inDir = path.parent_path() == dir_;
    const std::string name = path.filename().string();
    if (inDir && std::find(samples_.begin(), samples_.end(), name) != samples_.end()) continue;
    std::string label;
    int failures = 0;
    if (auto l = labels_.find(p); l != labels_.end()) {
      label = l->second;
      failures = label == "report" ? tally_.reportFailures : tally_.logFailures;
    } else if (inDir && name == hostprog::kDelayFile) {
      label = "delay file";
    } else if (inDir && name == "accounts.dat") {
      label = "account file";
    }
    const std::string shown =
        shownPath(inDir ? name : p) + (label.empty() ? "" : " (" + label + ")");
    const bool wrote = changed(p);
    if (failures > 0) {
      // The module's audit entry is the truth: a file that grew may still
      // have lost what a full disk refused.
      const std::string audit = simhost::quote(std::string(hostprog::auditSubject(
          label == "report" ? hostprog::Audit::ReportFailed : hostprog::Audit::EventLogFailed)));
      say((wrote ? "wrote " + shown + " in part: " : "could not write " + shown + ": ") +
          counted(static_cast<std::size_t>(failures), "write", "writes") +
          " failed, see the audit " + (failures == 1 ? "entry " : "entries ") + audit);
      any = true;
    } else if (wrote) {
      say("wrote " + shown);
      any = true;
    }
  }
  if (!any) say("no file written");
}

// For a person rather than a script: what the evening came to, and the
// full paths of the three files a sysop opens next.
void Closing::summaryLines() const {
  auto yes = [&](int n) {
    simhost::OptionValue v = simhost::readYesNoOption(options_, n);
    return v.error.empty() && v.number != 0;
  };
  say(tally_.summary(yes(21), yes(22), yes(26)));
  auto where = [](const std::string& p, const char* off) {
    if (p.empty()) return std::string("unknown: its option gives no usable path");
    if (*off) return shownPath(p) + " (" + off + ")";
    struct stat st;
    return shownPath(p) + (::stat(p.c_str(), &st) == 0 ? "" : " (none yet)");
  };
  say("event log:  " +
      where(outputPath(options_, 28, dir_), yes(27) ? "" : "off: option 27 is NO"));
  say("report:     " + where(outputPath(options_, 29, dir_), ""));
  say("delay file: " + where((fs::path(dir_) / hostprog::kDelayFile).string(), ""));
}

int Closing::finish(int status) const {
  fileLines();
  if (traced_) summaryLines();
  const simhost::WriteFailures refused = simhost::writeFailures();
  if (refused.records == 0 && refused.accounts == 0) return status;
  std::string what;
  if (refused.records) what = counted(refused.records, "delay record", "delay records");
  if (refused.records && refused.accounts) what += " and ";
  if (refused.accounts) what += counted(refused.accounts, "account line", "account lines");
  say(what + (refused.records + refused.accounts == 1 ? " was" : " were") +
      " not stored: the data file refused the write (see the warnings in the trace)");
  return status == 0 ? 1 : status;
}

}  // namespace sim
