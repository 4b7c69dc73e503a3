// The programs' own files: the scratch directories that a simulator run
// without --dir and `--check` make, and the built-in samples that both
// programs write into a directory where they are missing. (Inputs are read
// through simhost/input.h, as the host reads its own.)
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostprog {

// Makes a new directory `$TMPDIR/NAME.XXXXXX` (or under /tmp). Answers its
// path, or "" with `reason`.
std::string makeScratchDir(const std::string& name, std::string* reason);

// Writes a built-in sample at PATH unless a file is there already (O_EXCL,
// so never over one, even in a race). Answers 1 written, 0 already there,
// -1 failed with `reason`.
int writeSample(const std::string& path, std::string_view text, std::string* reason);

// Writes the built-in option file and description file into DIR where they
// are missing; `written` gets the name of each one written. Answers "" or
// "cannot write the sample PATH: REASON".
std::string writeSamples(const std::string& dir, std::vector<std::string>* written);

// A path as the programs print it: as it is, or quoted as the trace quotes
// texts when it holds a byte that needs an escape.
std::string shownPath(const std::string& path);

// PATH made absolute and normal, as both programs take the paths they are given.
std::string absolutePath(const std::string& path);

}  // namespace hostprog
