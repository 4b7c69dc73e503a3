// The closing lines of a run on standard error: the host's directory, the
// files the run really wrote (or failed to write), and a summary of the
// evening with the writes the disk refused.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hostprog/files.h"
#include "hostprog/vetting.h"
#include "sim/trace.h"
#include "simhost/event.h"
#include "simhost/options.h"

namespace sim {

// One line "zorgaval-sim: LINE" on standard error, flushed: how the
// program speaks to the sysop outside the trace.
void say(const std::string& line);

using hostprog::outputPath;
using hostprog::shownPath;

class Closing {
 public:
  // Notes how every file of DIR, and the event log and report wherever
  // options 28 and 29 put them, look before the run. `samples` are the
  // built-in samples just written into DIR.
  Closing(const std::string& dir, const simhost::ParsedOptions& options,
          std::vector<std::string> samples);

  // One event of the run.
  void see(const simhost::Event& e);

  // Writes the closing lines, and the summary when the module started.
  // Answers the run's status, made 1 when a data file refused a write.
  int finish(int status) const;

 private:
  struct Look {
    bool present = false;
    std::uintmax_t size = 0;
    std::int64_t mtime = 0;  // nanoseconds
  };
  static Look lookAt(const std::string& path);
  std::vector<std::string> files() const;
  bool changed(const std::string& path) const;
  void fileLines() const;
  void summaryLines() const;

  std::string dir_;
  simhost::ParsedOptions options_;
  std::vector<std::string> samples_;
  std::map<std::string, std::string> labels_;  // path -> "event log", "report"
  std::map<std::string, Look> before_;
  TraceTally tally_;
  bool traced_ = false;  // the module started: its registration is traced first
};

}  // namespace sim
