// What a run or `--check` vets before anything runs: the event log and
// report paths of options 28 and 29 must name neither one of the host's own
// files nor a FIFO, socket or directory, and no input may be one of those.
#pragma once

#include <string>
#include <vector>

#include "simhost/options.h"

namespace sim {

// The host's own files in DIR and the option file in use, all absolute.
struct HostFiles {
  std::string dir;
  std::string optionFile;   // the option file in use
  std::string optionLabel;  // its name as errors show it
};

// One error "LABEL:LINE: option N: ..." for each of options 28 and 29 whose
// path (relative ones taken from DIR) is one of the host's files (the delay
// file, the account file, the option file, the description file, or a
// -wal/-journal/-shm beside one of them; the same file under another name
// counts too) or a FIFO, socket or directory.
std::vector<std::string> vetOutputs(const simhost::ParsedOptions& options, const HostFiles& files);

// "LABEL: is a FIFO; WHAT must be a regular file" when the input at `path`
// is one of the kinds that cannot be read whole; "" otherwise.
std::string vetInput(const std::string& path, const std::string& label, const std::string& what);

}  // namespace sim
