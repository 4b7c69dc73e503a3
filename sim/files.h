// The program's own files: the scratch directories that a run without --dir
// and `--check` both make, and the built-in samples that the simulator and
// the board write into a directory where they are missing. (Inputs are read
// through simhost/input.h, as the host reads its own.)
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Makes a new directory `$TMPDIR/NAME.XXXXXX` (or under /tmp). Answers its
// path, or "" with `reason`.
std::string makeScratchDir(const std::string& name, std::string* reason);

// Writes a built-in sample at PATH unless a file is there already (O_EXCL,
// so never over one, even in a race). Answers 1 written, 0 already there,
// -1 failed with `reason`.
int writeSample(const std::string& path, std::string_view text, std::string* reason);

}  // namespace sim
