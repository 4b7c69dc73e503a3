// The module's option file read once at the board's start, and the few
// figures the board's own code takes from it.
#include "board/core/module_options.h"

#include <algorithm>

namespace board {

ModuleOptions readModuleOptions(const std::string& named, const std::string& dir) {
  ModuleOptions o;
  o.file = hostprog::readOptionFile(named, dir);
  o.terms = hostprog::delayTerms(o.file.parsed);
  const auto first = simhost::readHexOption(o.file.parsed, 17, 0, 255).number;
  const auto last = simhost::readHexOption(o.file.parsed, 18, 0, 255).number;
  o.watchedLow = static_cast<unsigned>(std::min(first, last));
  o.watchedHigh = static_cast<unsigned>(std::max(first, last));
  o.reportPath = hostprog::outputPath(o.file.parsed, 29, dir);
  return o;
}

}  // namespace board
