// The tally's summary at the end of a run.
#include "sim/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "simhost/simhost.h"

namespace sim {

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TraceTally::summary(bool auditWarn, bool auditBump, bool auditDelay) const {
  std::string out = auditWarn ? counted(static_cast<std::size_t>(warnings), "warning", "warnings")
                              : "warnings not counted (option 21 is NO)";
  out += ", ";
  out += auditBump ? counted(static_cast<std::size_t>(bumps), "bump", "bumps")
                   : "bumps not counted (option 22 is NO)";
  out += ", ";
  out += auditDelay
             ? counted(static_cast<std::size_t>(delayed), "refused log-on", "refused log-ons")
             : "refused log-ons not counted (option 26 is NO)";
  return out;
}

}  // namespace sim
