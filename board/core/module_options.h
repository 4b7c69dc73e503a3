// The module's option file as the board reads it, once, at start: the file
// itself for the vetting and the start's warnings, and what the board's own
// code takes from it (the delay terms, the watched range, the report file)
// for `ctl` and the console. The module reads its options on its own.
#pragma once

#include <string>

#include "hostprog/delay_end.h"
#include "hostprog/vetting.h"

namespace board {

struct ModuleOptions {
  hostprog::OptionFile file;
  hostprog::DelayTerms terms;
  unsigned watchedLow = 0, watchedHigh = 0;  // options 17 and 18, in order
  std::string reportPath;                    // option 29, "" for none
};

// NAMED (--options, "" for none) or DIR's own, as hostprog::readOptionFile
// finds it.
ModuleOptions readModuleOptions(const std::string& named, const std::string& dir);

}  // namespace board
