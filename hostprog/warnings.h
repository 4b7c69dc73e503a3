// What an option file allows but a sysop would not want, said as warnings
// by the board's start and by `--check`: an event log or report the module
// could not write, a watched range given backwards, a delay window of one
// moment. Nothing here stops a run.
#pragma once

#include <string>
#include <vector>

#include "hostprog/vetting.h"

namespace hostprog {

// One line each, "LABEL:LINE: option N: ..." or "LABEL: options N and M: ...".
// The paths of options 28 and 29 are tried for writing (their directory,
// and the file where it is there) without writing anything.
std::vector<std::string> optionWarnings(const OptionFile& file);

}  // namespace hostprog
