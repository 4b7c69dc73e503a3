// The message and option file format, parsed free of host state: the
// file's bytes into numbered entries, one entry read as the option readers
// read it, and the module name of a module description file.
#include "simhost/options.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "simhost/input.h"
#include "simhost/internal.h"
#include "simhost/text.h"

namespace simhost {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A bare word is any run of bytes but blanks, control characters, '#' and
// '"'; bytes of 0x80 and above belong to it.
bool isWordByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u != 0x7f && c != '#' && c != '"';
}

// A value as it appears in a message: quoted, and cut so that a 100 KB line
// does not become a 100 KB error.
std::string shown(std::string_view value) {
  constexpr std::size_t kLimit = 60;
  if (value.size() <= kLimit) return text::quote(value);
  return text::quote(std::string(value.substr(0, kLimit - 3)) + "...");
}

// One escape's character for a message: itself when printable, else 0xHH.
std::string byteName(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u > 0x20 && u < 0x7f) return std::string(1, c);
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", u);
  return hex;
}

// Parses one line (no line end) into `file`. Returns nothing: problems go to
// file.errors, entries to file.entries.
class LineParser {
 public:
  LineParser(ParsedOptions& file, std::string_view line, int lineNumber)
      : file_(file), line_(line), lineNumber_(lineNumber) {}

  void run() {
    std::size_t pos = 0;
    while (pos < line_.size() && isBlank(line_[pos])) ++pos;
    if (pos == line_.size() || line_[pos] == '#') {
      checkNul(0);
      return;
    }
    // The option number: everything up to a blank or '='.
    std::size_t end = pos;
    while (end < line_.size() && !isBlank(line_[end]) && line_[end] != '=' && line_[end] != '\0') {
      ++end;
    }
    const std::string_view token = line_.substr(pos, end - pos);
    if (!readNumber(token)) {
      if (numberReported_) return;
      if (!checkNul(0)) {
        error(shown(token.empty() ? line_.substr(pos) : token) + " is not an option number");
      }
      return;
    }
    if (checkNul(number_)) {
      markBroken();
      return;
    }
    pos = end;
    while (pos < line_.size() && isBlank(line_[pos])) ++pos;
    if (pos == line_.size() || line_[pos] != '=') {
      fail("\"=\" expected after the option number");
      return;
    }
    ++pos;
    while (pos < line_.size() && isBlank(line_[pos])) ++pos;
    std::string value;
    if (pos == line_.size() || line_[pos] == '#') {
      fail("no value after \"=\"");
      return;
    }
    if (line_[pos] == '"') {
      if (!readQuoted(&pos, &value)) return;
    } else {
      const std::size_t start = pos;
      while (pos < line_.size() && isWordByte(line_[pos])) ++pos;
      value.assign(line_.substr(start, pos - start));
    }
    while (pos < line_.size() && isBlank(line_[pos])) ++pos;
    if (pos < line_.size() && line_[pos] != '#') {
      fail("text after the value: " + shown(line_.substr(pos)));
      return;
    }
    add(std::move(value), false);
  }

 private:
  // Decimal 1 to 9999; leading zeros are allowed.
  bool readNumber(std::string_view token) {
    if (token.empty() || !std::all_of(token.begin(), token.end(), isDigit)) return false;
    const std::int64_t n = *text::readSignedHeld(token);  // digits alone: it reads
    if (n < 1 || n > 9999) {
      error("option number " + std::string(token) + " is not between 1 and 9999");
      numberReported_ = true;
      return false;
    }
    number_ = static_cast<int>(n);
    return true;
  }

  // Reports a NUL byte on the line, if any; true when there was one.
  bool checkNul(int number) {
    const std::size_t at = line_.find('\0');
    if (at == std::string_view::npos) return false;
    const std::string where = "NUL byte at column " + std::to_string(at + 1);
    if (number > 0) {
      error("option " + std::to_string(number) + ": " + where);
    } else {
      error(where);
    }
    return true;
  }

  // Reads a quoted text starting at *pos (the opening quote); on success
  // *pos is just past the closing quote.
  bool readQuoted(std::size_t* pos, std::string* value) {
    text::Unquoted read = text::unquote(line_, *pos, false);
    switch (read.fault) {
      case text::QuoteFault::None:
        *value = std::move(read.text);
        *pos = read.end;
        return true;
      case text::QuoteFault::UnknownEscape:
        fail("\\" + byteName(line_[read.at + 1]) + " is not a known escape");
        return false;
      case text::QuoteFault::ShortHex:
        fail("\\x must be followed by two hexadecimal digits");
        return false;
      case text::QuoteFault::NulEscape:
        fail("\\x00 would put a NUL byte in the text");
        return false;
      case text::QuoteFault::Unclosed:
      case text::QuoteFault::RawControl:  // not asked for: raw bytes stand
        break;
    }
    fail("the quoted text is not closed");
    return false;
  }

  void error(const std::string& what) {
    file_.errors.push_back(file_.label + ":" + std::to_string(lineNumber_) + ": " + what);
  }

  void fail(const std::string& what) {
    error("option " + std::to_string(number_) + ": " + what);
    markBroken();
  }

  void markBroken() { add(std::string(), true); }

  void add(std::string value, bool broken) {
    auto found = file_.entries.find(number_);
    if (found != file_.entries.end()) {
      // The first line stands; a bad second line was reported already.
      if (!broken) {
        error("option " + std::to_string(number_) + " is given again (first on line " +
              std::to_string(found->second.line) + ")");
      }
      return;
    }
    OptionEntry& entry = file_.entries[number_];
    entry.number = number_;
    entry.value = std::move(value);
    entry.line = lineNumber_;
    entry.broken = broken;
  }

  ParsedOptions& file_;
  std::string_view line_;
  int lineNumber_;
  int number_ = 0;
  bool numberReported_ = false;
};

// Finds entry n. Missing: sets *error. Broken: null with no error.
const OptionEntry* findEntry(const ParsedOptions& file, int n, std::string* error) {
  auto found = file.entries.find(n);
  if (found == file.entries.end()) {
    *error = file.label + ": option " + std::to_string(n) + " is missing";
    return nullptr;
  }
  if (found->second.broken) return nullptr;
  return &found->second;
}

std::string entryPrefix(const ParsedOptions& file, const OptionEntry& entry) {
  return file.label + ":" + std::to_string(entry.line) + ": option " +
         std::to_string(entry.number) + ": ";
}

std::string hexText(std::int64_t v) {
  char text[24];
  if (v < 0) {
    std::snprintf(text, sizeof text, "-%llX", static_cast<unsigned long long>(-v));
  } else {
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
  }
  return text;
}

// Holds `value` (read from the entry's text) within [min, max]; a value
// outside them gets a warning quoting the text as the sysop wrote it.
void holdWithin(const ParsedOptions& file, const OptionEntry& entry, std::int64_t value,
                std::int32_t min, std::int32_t max, bool hex, OptionValue* out) {
  auto show = [hex](std::int64_t v) { return hex ? hexText(v) : std::to_string(v); };
  if (value < min) {
    out->number = min;
    out->warning = entryPrefix(file, entry) + entry.value + " is below " + show(min) + "; " +
                   show(min) + " used";
  } else if (value > max) {
    out->number = max;
    out->warning = entryPrefix(file, entry) + entry.value + " is above " + show(max) + "; " +
                   show(max) + " used";
  } else {
    out->number = static_cast<std::int32_t>(value);
  }
}

}  // namespace

ParsedOptions parseOptionFile(const std::string& label, std::string_view bytes) {
  ParsedOptions file;
  file.label = label;
  // Editors on some systems open a file with a byte-order mark.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  int lineNumber = 0;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++lineNumber;
    LineParser(file, line, lineNumber).run();
    start = end + 1;
  }
  return file;
}

ParsedOptions loadOptionFile(const std::string& path) {
  std::string bytes, reason;
  if (readInput(path, kOptionFileLimit, &bytes, &reason) != Input::Read) {
    ParsedOptions file;
    file.label = path;
    file.errors.push_back(path + ": cannot read: " + reason);
    return file;
  }
  return parseOptionFile(path, bytes);
}

OptionValue readTextOption(const ParsedOptions& file, int n) {
  OptionValue out;
  if (const OptionEntry* entry = findEntry(file, n, &out.error)) {
    out.text = entry->value;
  }
  return out;
}

namespace {

// numopt's and hexopt's reading: the entry as a number held within
// [min, max], or the lower bound and an error when it is not one.
OptionValue readNumberOption(const ParsedOptions& file, int n, std::int32_t min, std::int32_t max,
                             bool hex) {
  OptionValue out;
  out.number = min;
  const OptionEntry* entry = findEntry(file, n, &out.error);
  if (entry == nullptr) return out;
  // An enormous decimal value is still a number, only "above" the bound.
  std::optional<std::int64_t> value;
  if (!hex) {
    value = text::readSignedHeld(entry->value);
  } else if (const auto word = text::readHexWord(entry->value)) {
    value = *word;
  }
  if (!value) {
    out.error =
        entryPrefix(file, *entry) + shown(entry->value) +
        (hex ? " is not a hexadecimal number of 1 to 8 digits" : " is not a decimal number");
    return out;
  }
  holdWithin(file, *entry, *value, min, max, hex, &out);
  return out;
}

}  // namespace

OptionValue readDecimalOption(const ParsedOptions& file, int n, std::int32_t min,
                              std::int32_t max) {
  return readNumberOption(file, n, min, max, false);
}

OptionValue readHexOption(const ParsedOptions& file, int n, std::int32_t min, std::int32_t max) {
  return readNumberOption(file, n, min, max, true);
}

OptionValue readYesNoOption(const ParsedOptions& file, int n) {
  OptionValue out;
  const OptionEntry* entry = findEntry(file, n, &out.error);
  if (entry == nullptr) return out;
  const std::string& v = entry->value;
  if (text::equalFolded(v, "YES") || text::equalFolded(v, "Y")) {
    out.number = 1;
  } else if (!text::equalFolded(v, "NO") && !text::equalFolded(v, "N")) {
    out.error = entryPrefix(file, *entry) + shown(v) + " is not YES, NO, Y or N";
  }
  return out;
}

std::string readModuleName(const std::string& path, std::string* warning, std::string* error) {
  std::size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  warning->clear();
  error->clear();

  std::string bytes, reason;
  switch (readInput(path, kOptionFileLimit, &bytes, &reason)) {
    case Input::Read:
      break;
    case Input::CannotRead:
      *warning =
          path + ": cannot read: " + reason + "; " + text::quote(base) + " used as the module name";
      return base;
    case Input::Refused:
      *error = path + ": cannot read: " + reason;
      return base;
  }
  auto trimmed = [](std::string_view s) {
    while (!s.empty() && (isBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
  };
  std::string_view rest = bytes;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (!text::equalFolded(trimmed(line.substr(0, colon)), "Name")) continue;
    const std::string_view name = trimmed(line.substr(colon + 1));
    if (name.empty()) {
      *warning =
          path + ": the \"Name:\" line is empty; " + text::quote(base) + " used as the module name";
      return base;
    }
    warning->clear();
    return std::string(name);
  }
  *warning = path + ": no \"Name:\" line; " + text::quote(base) + " used as the module name";
  return base;
}

}  // namespace simhost
