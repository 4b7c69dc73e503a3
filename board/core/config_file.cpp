// The board's configuration file: one setting a line, `NAME = VALUE` with
// the long flags' names, `#` comments and blank lines. Each line is read
// as the flag `--NAME=VALUE` by the command line's own reader, so a value
// is refused with the same words wherever it is given; relative paths are
// taken from the file's directory.
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "board/core/config.h"
#include "simhost/input.h"
#include "simhost/simhost.h"

namespace board {

namespace {

// Far above any real file: the flags fit in a few kB.
constexpr std::size_t kConfigFileLimit = std::size_t{1} << 20;

std::string trimmed(std::string_view s) {
  const std::size_t from = s.find_first_not_of(" \t\r");
  if (from == std::string_view::npos) return "";
  return std::string(s.substr(from, s.find_last_not_of(" \t\r") - from + 1));
}

// What the command line would carry for the line NAME = VALUE: the flag
// with its value joined on, as `--ssh=[::]:22`, or alone when the line has
// no `=`. The TLS pair's two paths are two words, as on the command line.
std::vector<std::string> wordsOf(const std::string& name, const std::optional<std::string>& value) {
  if (!value) return {"--" + name};
  if (name != "web-tls") return {"--" + name + "=" + *value};
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = value->find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t end = value->find_first_of(" \t", at);
    words.push_back(value->substr(at, end == std::string::npos ? end : end - at));
    at = end;
  }
  if (words.empty()) return {"--web-tls="};
  words.front() = "--web-tls=" + words.front();
  return words;
}

// One line's setting into C; "" or its fault. FIRST holds the line each
// flag was first given on.
std::string readLine(const std::string& line, const std::string& base, Config& c,
                     std::map<std::string, int>& first, int number) {
  const std::size_t equals = line.find('=');
  const std::string name = trimmed(line.substr(0, equals));
  std::optional<std::string> value;
  if (equals != std::string::npos) value = trimmed(line.substr(equals + 1));
  if (name.empty() || name.front() == '-' || name.find_first_of(" \t") != std::string::npos)
    return simhost::quote(line) + " is not NAME = VALUE (a long flag's name without its --)";
  if (name == "config" || name == "help" || name == "version")
    return simhost::quote(name) + " is for the command line only";
  std::vector<std::string> given;
  if (std::string error = readFlags(wordsOf(name, value), base, c, &given); !error.empty())
    return error;
  for (const std::string& flag : given) {
    const auto [at, fresh] = first.emplace(flag, number);
    if (!fresh)
      return flag.substr(2) + " is given again (first on line " + std::to_string(at->second) + ")";
  }
  return "";
}

}  // namespace

std::string readConfigFile(const std::string& path, Config& c) {
  std::string text, reason;
  if (simhost::readInput(path, kConfigFileLimit, &text, &reason) != simhost::Input::Read)
    return path + ": cannot be read: " + reason;
  const std::string base = std::filesystem::absolute(path).parent_path().string();
  std::map<std::string, int> first;
  int number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    const std::string content = trimmed(line);
    if (content.empty() || content.front() == '#') continue;
    const std::string label = path + ":" + std::to_string(number) + ": ";
    if (line.find('\0') != std::string::npos) return label + "the line holds a NUL byte";
    if (std::string error = readLine(content, base, c, first, number); !error.empty())
      return label + error;
  }
  return "";
}

}  // namespace board
