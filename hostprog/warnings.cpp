// Option-file warnings: each one a setting the module takes as it is, but
// which leaves a file unwritten or a rule without effect.
#include "hostprog/warnings.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "hostprog/files.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace hostprog {
namespace {

std::string lineOf(const OptionFile& f, int n) {
  const auto e = f.parsed.entries.find(n);
  const std::string line = e == f.parsed.entries.end() ? "" : std::to_string(e->second.line);
  return shownPath(f.host.optionLabel) + (line.empty() ? "" : ":" + line) + ": ";
}

// Why the module could not append to PATH, or "".
std::string unwritable(const std::string& path) {
  std::error_code ec;
  const fs::path dir = fs::path(path).parent_path();
  if (!fs::is_directory(dir, ec))
    return "its directory " + shownPath(dir.string()) + " does not exist";
  if (fs::exists(path, ec)) {
    if (::access(path.c_str(), W_OK) != 0)
      return std::string("it cannot be written (") + std::strerror(errno) + ")";
    return "";
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    return "its directory " + shownPath(dir.string()) + " is read-only for this user";
  return "";
}

}  // namespace

std::vector<std::string> optionWarnings(const OptionFile& f) {
  std::vector<std::string> out;
  if (!f.readable) return out;
  const std::pair<int, const char*> outputs[] = {{28, "the event log"}, {29, "the report"}};
  for (const auto& [n, what] : outputs) {
    const std::string path = outputPath(f.parsed, n, f.host.dir);
    if (path.empty()) continue;
    if (std::string why = unwritable(path); !why.empty())
      out.push_back(lineOf(f, n) + "option " + std::to_string(n) + ": " + shownPath(path) + ": " +
                    why + "; the module cannot write " + what + " there");
  }
  const auto first = simhost::readHexOption(f.parsed, 17, 0, 255);
  const auto last = simhost::readHexOption(f.parsed, 18, 0, 255);
  if (first.error.empty() && last.error.empty() && first.number > last.number)
    out.push_back(shownPath(f.host.optionLabel) +
                  ": options 17 and 18: the watched range is given backwards (" +
                  simhost::text::hex2(first.number) + " to " + simhost::text::hex2(last.number) +
                  "); the module takes it as " + simhost::text::hex2(last.number) + " to " +
                  simhost::text::hex2(first.number));
  const auto start = simhost::readTextOption(f.parsed, 24);
  const auto end = simhost::readTextOption(f.parsed, 25);
  if (start.error.empty() && end.error.empty() && !start.text.empty() && start.text == end.text)
    out.push_back(shownPath(f.host.optionLabel) +
                  ": options 24 and 25: the delay window starts and ends at " + start.text +
                  ", so a bumped user is refused only in that one moment");
  return out;
}

}  // namespace hostprog
