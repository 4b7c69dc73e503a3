// `zorgaval-sim --replay`: the program's side of a replay, from the command
// line to the trace, the rebuilt scenario, the table and the picture.
#pragma once

#include <string>

#include "sim/program.h"

namespace sim {

// What is wrong with a replay's command line; "" when nothing is.
std::string replayLineProblem(const CommandLine& cl);

// Answers the exit status: 0 done, 2 a bad trace or option file, 1 any
// other failure.
int replayProgram(const CommandLine& cl);

}  // namespace sim
