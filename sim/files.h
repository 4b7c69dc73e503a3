// The program's own dealings with the file system: inputs read whole up to a
// limit without ever blocking on a FIFO, the kind of file a path names, and
// the scratch directories that a run and `--check` both make.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// The most each input may hold: a busy board's day of scenario is about
// 1 MB, an option file a few kB.
inline constexpr std::size_t kScenarioLimit = std::size_t{64} << 20;
inline constexpr std::size_t kOptionFileLimit = std::size_t{16} << 20;

// "a FIFO", "a socket" or "a directory" when `path` names a file that can
// be neither read whole nor appended to without blocking or failing; ""
// for a regular file, a character device, or a path that does not exist
// (yet). Never opens the file.
std::string unusableKind(const std::string& path);

// Reads the file at `path` whole, at most `limit` bytes. Answers false with
// `reason` ("is a FIFO", "is larger than 64 MiB", a strerror text) when it
// cannot. `path` "-" is standard input, which may be a pipe.
bool readInput(const std::string& path, std::size_t limit, std::string* bytes, std::string* reason);

// "64 MiB" for a limit in whole MiB.
std::string sizeText(std::size_t bytes);

// Makes a new directory `$TMPDIR/NAME.XXXXXX` (or under /tmp). Answers its
// path, or "" with `reason`.
std::string makeScratchDir(const std::string& name, std::string* reason);

}  // namespace sim
