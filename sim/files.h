// The scratch directories that a run without --dir and `--check` both make.
// (Inputs are read through simhost/input.h, as the host reads its own.)
#pragma once

#include <string>

namespace sim {

// Makes a new directory `$TMPDIR/NAME.XXXXXX` (or under /tmp). Answers its
// path, or "" with `reason`.
std::string makeScratchDir(const std::string& name, std::string* reason);

}  // namespace sim
