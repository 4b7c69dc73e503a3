// Reading an input file whole, for the host and the program alike: opened
// without waiting, refused when it is a FIFO, a socket or a directory, and
// cut off past a limit, so that no path a sysop names can hang or fill memory.
#pragma once

#include <cstddef>
#include <string>

namespace simhost {

// The most read of an option file: far above any real one (a few kB), so
// that an endless input such as /dev/zero is refused instead of filling memory.
inline constexpr std::size_t kOptionFileLimit = std::size_t{16} << 20;

// What became of reading an input.
enum class Input {
  Read,        // whole, into `bytes`
  CannotRead,  // could not be opened or read, it may be missing: `reason`
               // is the system's text ("No such file or directory")
  Refused,     // no file to read whole: `reason` is "is a FIFO", "is a
               // socket", "is a directory" or "is larger than 16 MiB, the
               // most it may hold"
};

// Reads the input at `path` whole, at most `limit` bytes, into `bytes`. A
// character device (a terminal, /dev/null) is read as any program would.
// The path is taken as it is: "-" is a file of that name.
Input readInput(const std::string& path, std::size_t limit, std::string* bytes,
                std::string* reason);

// The same for standard input, which may well be a pipe: the program's
// "-" as the scenario.
Input readStandardInput(std::size_t limit, std::string* bytes, std::string* reason);

// "a FIFO", "a socket" or "a directory" when the file at `path` can be
// neither read whole nor appended to without blocking or failing; "" for a
// regular file, a device, or a path that does not exist (yet). Never opens it.
std::string unusableKind(const std::string& path);

}  // namespace simhost
