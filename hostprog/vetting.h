// What a program vets before anything runs or listens: the option file in
// use, read as the module will find it; the event log and report paths of
// options 28 and 29, which must name neither one of the host's own files
// nor a FIFO, socket or directory; and inputs that cannot be read whole.
#pragma once

#include <string>
#include <vector>

#include "simhost/options.h"

namespace hostprog {

// The host's own files in DIR and the option file in use, all absolute.
struct HostFiles {
  std::string dir;
  std::string optionFile;   // the option file in use
  std::string optionLabel;  // its name as errors show it
};

// The option file in use, read as the module will find it.
struct OptionFile {
  HostFiles host;
  bool readable = false;
  std::string reason;  // why it cannot be read
  simhost::ParsedOptions parsed;
};

// The file `named` on a command line, else DIR's zorgaval.mcv, else (DIR
// has none yet) the built-in sample that is about to be written there.
OptionFile readOptionFile(const std::string& named, const std::string& dir);

// Every error of the vetting, one line each: the option file and the
// description file as inputs, then options 28 and 29 (vetOutputs).
std::vector<std::string> vetFiles(const OptionFile& file);

// One error "LABEL:LINE: option N: ..." for each of options 28 and 29 whose
// path (relative ones taken from DIR) is one of the host's files (the delay
// file, the account file, the option file, the description file, or a
// -wal/-journal/-shm beside one of them; the same file under another name
// counts too) or a FIFO, socket or directory.
std::vector<std::string> vetOutputs(const simhost::ParsedOptions& options, const HostFiles& files);

// "LABEL: is a FIFO; WHAT must be a regular file" when the input at `path`
// is one of the kinds that cannot be read whole; "" otherwise.
std::string vetInput(const std::string& path, const std::string& label, const std::string& what);

// The file named by option 28 or 29 as the module will open it: a relative
// path is taken from DIR. "" when the option gives no usable path.
std::string outputPath(const simhost::ParsedOptions& options, int n, const std::string& dir);

}  // namespace hostprog
