// The trace writer: each line goes out whole and is flushed at once.
#include "hostprog/trace_out.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "simhost/simhost.h"

namespace hostprog {

void writeTraceLine(const std::string& line) {
  std::string out = line;
  out += '\n';
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    throw simhost::Fatal(
        1, std::string("cannot write the trace to standard output: ") + std::strerror(errno));
}

}  // namespace hostprog
