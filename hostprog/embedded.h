// The built-in texts compiled into the program from examples/: the sample
// option file, the sample module description file and the busy evening.
#pragma once

#include <string_view>

namespace embedded {
extern const std::string_view zorgaval_mcv;
extern const std::string_view zorgaval_mdf;
extern const std::string_view busy_evening_scn;
}  // namespace embedded
