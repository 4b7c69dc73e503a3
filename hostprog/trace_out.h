// The trace on standard output: it carries the trace and nothing else, one
// line per event, each flushed as it is written, for both programs.
#pragma once

#include <string>

namespace hostprog {

// Writes one finished trace line and a newline to standard output and
// flushes it, so a run killed from outside loses nothing it printed. A
// failed write throws simhost::Fatal(1): a trace with holes is worse than none.
void writeTraceLine(const std::string& line);

}  // namespace hostprog
