// The message and option file reader, free of any host state: parse a file's
// bytes into numbered entries, and read one entry as the option readers do.
// The host's opnmsg/stgopt/numopt/... and the simulator's checks share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace simhost {

struct OptionEntry {
  int number = 0;
  std::string value;    // escapes already resolved
  int line = 0;         // 1-based line of the entry
  bool broken = false;  // its line had a syntax error, already reported
};

struct ParsedOptions {
  std::string label;                   // the file's name as errors show it
  std::map<int, OptionEntry> entries;  // by option number
  std::vector<std::string> errors;     // "LABEL:LINE: what is wrong", in order
};

// Parses a whole file. Every syntax error is one text in `errors`; an entry
// whose number could be read but whose line is bad is kept as `broken`, so
// its reader answers a safe value without reporting the entry again.
ParsedOptions parseOptionFile(const std::string& label, std::string_view bytes);

// Reads the file at `path` whole (up to kOptionFileLimit, simhost/input.h)
// and parses it, labelled with the path as given. A file that cannot be
// read gives one error "PATH: cannot read: REASON" and no entries.
ParsedOptions loadOptionFile(const std::string& path);

// What one reader made of one entry. `error` is set when the entry is
// missing or unreadable (the value is then the safe one); `warning` when a
// number was held to a bound. Both are "" otherwise, and both are "" for a
// broken entry, whose error was given when the file was parsed.
struct OptionValue {
  std::int32_t number = 0;
  std::string text;
  std::string error;
  std::string warning;
};

OptionValue readTextOption(const ParsedOptions& file, int n);
OptionValue readDecimalOption(const ParsedOptions& file, int n, std::int32_t min, std::int32_t max);
OptionValue readHexOption(const ParsedOptions& file, int n, std::int32_t min, std::int32_t max);
OptionValue readYesNoOption(const ParsedOptions& file, int n);  // 1 yes, 0 no

// The display name a module description file gives in its `Name:` line.
// When the file cannot be read or has no such line (or an empty one), the
// file's base name without its extension, and `warning` says why. A path
// that is no file to read (a directory, FIFO or socket) or holds more than
// kOptionFileLimit sets `error` instead: that is a fault of the setup.
std::string readModuleName(const std::string& path, std::string* warning, std::string* error);

}  // namespace simhost
