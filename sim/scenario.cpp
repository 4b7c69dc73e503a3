// The scenario reader: splits lines into words (bare or double-quoted),
// checks each command's words against its form, and keeps the order rules
// (setup before start, nothing after shutdown or crash).
#include "sim/scenario.h"
#include "simhost/simhost.h"

#include <algorithm>

#include <cstdio>
#include <iterator>
#include <optional>

namespace sim {
namespace {

// A fault in the line being read; carries the text after "FILE:LINE: ".
struct LineError {
  std::string what;
};

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A word as the sysop wrote it, for error lines: the trace's quoting, so a
// stray control byte is visible rather than printed raw.
std::string shown(std::string_view word) { return simhost::quote(std::string(word)); }

// Splits one line (without its line end) into words. Throws LineError.
std::vector<std::string> splitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        unsigned char c = line[i++];
        if (c == '"') { closed = true; break; }
        if (c != '\\') {
          if (isControl(c) && c != '\t')
            throw LineError{"control character " + shown(std::string(1, c)) +
                            " in a quoted word; write it as an escape"};
          word += static_cast<char>(c);
          continue;
        }
        if (i == line.size()) break;  // reported as unclosed below
        unsigned char e = line[i++];
        switch (e) {
          case '\\': word += '\\'; break;
          case '"': word += '"'; break;
          case 'a': word += '\a'; break;
          case 'n': word += '\n'; break;
          case 'r': word += '\r'; break;
          case 't': word += '\t'; break;
          case 'x': {
            int hi = i < line.size() ? hexValue(line[i]) : -1;
            int lo = i + 1 < line.size() ? hexValue(line[i + 1]) : -1;
            if (hi < 0 || lo < 0)
              throw LineError{"bad escape " +
                              shown(line.substr(i - 2, std::min<std::size_t>(4, line.size() - (i - 2)))) +
                              ": \\x takes two hexadecimal digits"};
            word += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
          }
          default:
            throw LineError{"bad escape " + shown(line.substr(i - 2, 2)) +
                            " in a quoted word"};
        }
      }
      if (!closed) throw LineError{"unclosed quote in " + shown(line)};
      if (i < line.size() && !isBlank(line[i]))
        throw LineError{"text " + shown(line.substr(i)) + " straight after a closing quote"};
    } else {
      std::size_t start = i;
      while (i < line.size() && !isBlank(line[i])) {
        unsigned char c = line[i];
        if (c == '"' || c == '#' || isControl(c)) {
          std::size_t end = i;
          while (end < line.size() && !isBlank(line[end])) ++end;
          throw LineError{std::string("bad character ") + shown(std::string(1, c)) +
                          " in the word " + shown(line.substr(start, end - start))};
        }
        ++i;
      }
      word.assign(line.substr(start, i - start));
    }
    words.push_back(std::move(word));
  }
  return words;
}

// ---- word readers; each throws LineError naming the word

std::optional<std::uint64_t> decimal(const std::string& w, std::uint64_t limit) {
  if (w.empty() || w.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (unsigned char c : w) {
    if (!isDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > limit) return std::nullopt;
  return v;
}

std::int32_t signed32(const std::string& w, const char* what) {
  bool negative = !w.empty() && w[0] == '-';
  auto v = decimal(negative ? w.substr(1) : w, negative ? 2147483648ULL : 2147483647ULL);
  if (!v) throw LineError{std::string(what) + " " + shown(w) +
                          " is not a decimal number from -2147483648 to 2147483647"};
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(*v))
                  : static_cast<std::int32_t>(*v);
}

std::uint32_t hex32(const std::string& w, const char* what) {
  std::string digits = w;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  bool good = !digits.empty() && digits.size() <= 8;
  std::uint32_t v = 0;
  for (unsigned char c : digits) {
    int h = hexValue(c);
    if (h < 0) { good = false; break; }
    v = v * 16 + static_cast<std::uint32_t>(h);
  }
  if (!good) throw LineError{std::string(what) + " " + shown(w) +
                             " is not a hexadecimal number of 1 to 8 digits"};
  return v;
}

int channelIndex(const std::string& w, int channels) {
  auto v = decimal(w, 1u << 20);
  if (!v) throw LineError{"channel index " + shown(w) + " is not a decimal number"};
  if (*v >= static_cast<std::uint64_t>(channels))
    throw LineError{"channel index " + w + " is out of range: " +
                    std::to_string(channels) + " channels, 0 to " +
                    std::to_string(channels - 1)};
  return static_cast<int>(*v);
}

std::string userId(const std::string& w, bool emptyAllowed) {
  if (w.empty() && !emptyAllowed) throw LineError{"the user-id is empty"};
  if (w.size() > MAX_USERID_LENGTH)
    throw LineError{"user-id " + shown(w) + " is " + std::to_string(w.size()) +
                    " characters long; at most 29 fit"};
  if (w.find('\0') != std::string::npos)
    throw LineError{"user-id " + shown(w) + " holds a NUL byte"};
  return w;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int monthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leapYear(year) ? 29 : lengths[month - 1];
}

// Reads fixed-width digits at `at`; -1 when they are not all digits.
int digitsAt(const std::string& w, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t k = at; k < at + n; ++k) {
    if (!isDigit(w[k])) return -1;
    v = v * 10 + (w[k] - '0');
  }
  return v;
}

Date dateWord(const std::string& w) {
  if (w.size() != 10 || w[4] != '-' || w[7] != '-' || digitsAt(w, 0, 4) < 0 ||
      digitsAt(w, 5, 2) < 0 || digitsAt(w, 8, 2) < 0)
    throw LineError{"date " + shown(w) + " is not of the form YYYY-MM-DD"};
  Date d{digitsAt(w, 0, 4), digitsAt(w, 5, 2), digitsAt(w, 8, 2)};
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > monthLength(d.year, d.month))
    throw LineError{"date " + shown(w) + " is not a calendar date"};
  if (d.year < EARLIEST_YEAR || d.year > LATEST_YEAR)
    throw LineError{"date " + shown(w) + " is outside 1980-01-01 to 2107-12-31"};
  return d;
}

TimeOfDay timeWord(const std::string& w) {
  if (w.size() != 8 || w[2] != ':' || w[5] != ':' || digitsAt(w, 0, 2) < 0 ||
      digitsAt(w, 3, 2) < 0 || digitsAt(w, 6, 2) < 0)
    throw LineError{"time " + shown(w) + " is not of the form HH:MM:SS"};
  TimeOfDay t{digitsAt(w, 0, 2), digitsAt(w, 3, 2), digitsAt(w, 6, 2)};
  if (t.hour > 23 || t.minute > 59 || t.second > 59)
    throw LineError{"time " + shown(w) + " is not a time of day (00:00:00 to 23:59:59)"};
  return t;
}

std::vector<std::string> keyList(const std::string& w) {
  std::vector<std::string> keys;
  std::size_t from = 0;
  while (true) {
    std::size_t comma = w.find(',', from);
    std::string key = w.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (key.empty()) throw LineError{"empty key name in " + shown(w)};
    if (key.find('\0') != std::string::npos)
      throw LineError{"key name " + shown(key) + " holds a NUL byte"};
    if (key[0] == '$' && optionReference(key) == 0)
      throw LineError{"key " + shown(key) + ": $ must be followed by an option number, 1 to 9999"};
    keys.push_back(key);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return keys;
}

bool onOff(const std::string& w, const std::string& field) {
  if (w == "on") return true;
  if (w == "off") return false;
  throw LineError{"set " + field + " takes on or off, not " + shown(w)};
}

bool isSetup(Verb v) {
  return v == Verb::Clock || v == Verb::Channels || v == Verb::Channel || v == Verb::Account;
}

struct VerbName {
  const char* name;
  Verb verb;
};
// In the order of Verb: checkOrder names a command by its verb's place here.
const VerbName verbs[] = {
    {"clock", Verb::Clock},     {"channels", Verb::Channels}, {"channel", Verb::Channel},
    {"account", Verb::Account}, {"start", Verb::Start},       {"logon", Verb::Logon},
    {"connect", Verb::Connect}, {"occupy", Verb::Occupy},     {"logoff", Verb::Logoff},
    {"set", Verb::Set},         {"wait", Verb::Wait},         {"at", Verb::At},
    {"cleanup", Verb::Cleanup}, {"delays", Verb::Delays},     {"shutdown", Verb::Shutdown},
    {"crash", Verb::Crash},
};
static_assert(std::size(verbs) == static_cast<std::size_t>(Verb::Crash) + 1);

// The reader's memory between lines.
struct Progress {
  int channels = DEFAULT_CHANNELS;
  int clockLine = 0, channelsLine = 0, firstChannelLine = 0;
  int startLine = 0;        // explicit or implied start
  int endLine = 0;          // shutdown or crash
  const char* endVerb = nullptr;
};

// Checks one command's words and converts them. Throws LineError.
Command parseCommand(const std::vector<std::string>& w, int line, Progress& p) {
  Command c;
  c.line = line;
  const std::string& name = w[0];
  const VerbName* found = nullptr;
  for (const auto& v : verbs)
    if (name == v.name) found = &v;
  if (!found) throw LineError{"unknown command " + shown(name)};
  c.verb = found->verb;

  auto needAtLeast = [&](std::size_t n, const char* form) {
    if (w.size() < n) throw LineError{name + " needs " + form};
  };
  auto noMoreThan = [&](std::size_t n) {
    if (w.size() > n) throw LineError{"extra word " + shown(w[n]) + " after " + name};
  };

  switch (c.verb) {
    case Verb::Clock:
      needAtLeast(3, "a date and a time: clock YYYY-MM-DD HH:MM:SS");
      noMoreThan(3);
      c.hasDate = true;
      c.date = dateWord(w[1]);
      c.time = timeWord(w[2]);
      break;
    case Verb::Channels: {
      needAtLeast(2, "a count: channels N [FIRST]");
      noMoreThan(3);
      auto n = decimal(w[1], 1u << 20);
      if (!n || *n < 1 || *n > 256)
        throw LineError{"channel count " + shown(w[1]) + " is not a number from 1 to 256"};
      c.count = static_cast<int>(*n);
      if (w.size() == 3) c.firstNumber = hex32(w[2], "first channel number");
      if (std::uint64_t{c.firstNumber} + c.count - 1 > 0xffffffffULL)
        throw LineError{"channel numbers from " + w[2] + " run past FFFFFFFF"};
      break;
    }
    case Verb::Channel:
      needAtLeast(3, "an index and a number: channel CH NUMBER");
      noMoreThan(3);
      c.channel = channelIndex(w[1], p.channels);
      c.number = hex32(w[2], "channel number");
      break;
    case Verb::Account: {
      needAtLeast(2, "a user-id: account USERID [keys KEY,KEY...] [nocount]");
      c.userid = userId(w[1], false);
      bool keysSeen = false;
      for (std::size_t k = 2; k < w.size(); ++k) {
        if (w[k] == "keys" && !keysSeen) {
          if (k + 1 == w.size()) throw LineError{"keys needs a list: keys KEY,KEY..."};
          c.keys = keyList(w[++k]);
          keysSeen = true;
        } else if (w[k] == "nocount" && !c.nocount) {
          c.nocount = true;
        } else {
          throw LineError{"unexpected word " + shown(w[k]) +
                          " in account: keys KEY,KEY... and nocount may each come once"};
        }
      }
      break;
    }
    case Verb::Logon:
    case Verb::Connect: {
      needAtLeast(3, "a channel and a user-id");
      c.channel = channelIndex(w[1], p.channels);
      c.userid = userId(w[2], false);
      bool usageSeen = false, statusSeen = false;
      for (std::size_t k = 3; k < w.size(); ++k) {
        const std::string& o = w[k];
        if ((o == "usage" && !usageSeen) || (o == "status" && !statusSeen)) {
          if (k + 1 == w.size()) throw LineError{o + " needs a number"};
          std::int32_t v = signed32(w[++k], o.c_str());
          if (o == "usage") {
            c.usage = v;
            usageSeen = true;
          } else {
            if (v == 0) throw LineError{"status 0 would leave the channel free"};
            c.status = v;
            statusSeen = true;
          }
        } else if (o == "notally" && !c.notally) {
          c.notally = true;
        } else if (o == "directend" && !c.directend) {
          c.directend = true;
        } else if (o == "badpassword" && !c.badpassword && c.verb == Verb::Logon) {
          c.badpassword = true;
        } else {
          throw LineError{"unexpected word " + shown(o) + " in " + name};
        }
      }
      break;
    }
    case Verb::Occupy:
      needAtLeast(3, "a channel and a status code: occupy CH STATUS [USERID]");
      noMoreThan(4);
      c.channel = channelIndex(w[1], p.channels);
      c.status = signed32(w[2], "status");
      if (c.status == 0) throw LineError{"status 0 would leave the channel free"};
      if (w.size() == 4) c.userid = userId(w[3], true);
      break;
    case Verb::Logoff:
      needAtLeast(2, "a channel: logoff CH");
      noMoreThan(2);
      c.channel = channelIndex(w[1], p.channels);
      break;
    case Verb::Set: {
      needAtLeast(4, "a channel, a field and a value: set CH usage N, status S, "
                     "notally on|off or directend on|off");
      noMoreThan(4);
      c.channel = channelIndex(w[1], p.channels);
      const std::string& f = w[2];
      if (f == "usage") {
        c.field = SetField::Usage;
        c.value = signed32(w[3], "usage");
      } else if (f == "status") {
        c.field = SetField::Status;
        c.value = signed32(w[3], "status");
      } else if (f == "notally") {
        c.field = SetField::Notally;
        c.value = onOff(w[3], f);
      } else if (f == "directend") {
        c.field = SetField::Directend;
        c.value = onOff(w[3], f);
      } else {
        throw LineError{"set has no field " + shown(f) +
                        "; the fields are usage, status, notally and directend"};
      }
      break;
    }
    case Verb::Wait: {
      needAtLeast(2, "a number of seconds: wait SECONDS");
      noMoreThan(2);
      // Up to the whole span of the clock; the run checks the end of it.
      auto s = decimal(w[1], 5000000000ULL);
      if (!s) throw LineError{"wait " + shown(w[1]) + " is not a number of seconds"};
      c.seconds = static_cast<std::int64_t>(*s);
      break;
    }
    case Verb::At:
      needAtLeast(2, "a time: at HH:MM:SS or at YYYY-MM-DD HH:MM:SS");
      noMoreThan(3);
      if (w.size() == 3) {
        c.hasDate = true;
        c.date = dateWord(w[1]);
        c.time = timeWord(w[2]);
      } else {
        c.time = timeWord(w[1]);
      }
      break;
    case Verb::Start:
    case Verb::Cleanup:
    case Verb::Delays:
    case Verb::Shutdown:
    case Verb::Crash:
      noMoreThan(1);
      break;
  }
  return c;
}

// The order rules, checked once the command itself is known to be good.
void checkOrder(const Command& c, Progress& p) {
  if (p.endLine)
    throw LineError{std::string("nothing may follow ") + p.endVerb + " (line " +
                    std::to_string(p.endLine) + ")"};
  if (isSetup(c.verb) || c.verb == Verb::Start) {
    if (p.startLine)
      throw LineError{std::string(verbs[static_cast<int>(c.verb)].name) +
                      " comes after the module has started (line " +
                      std::to_string(p.startLine) + ")"};
  }
  switch (c.verb) {
    case Verb::Clock:
      if (p.clockLine)
        throw LineError{"the clock is already set (line " + std::to_string(p.clockLine) + ")"};
      p.clockLine = c.line;
      break;
    case Verb::Channels:
      if (p.channelsLine)
        throw LineError{"the channels are already given (line " +
                        std::to_string(p.channelsLine) + ")"};
      if (p.firstChannelLine)
        throw LineError{"channels must come before any channel line (line " +
                        std::to_string(p.firstChannelLine) + ")"};
      p.channelsLine = c.line;
      p.channels = c.count;
      break;
    case Verb::Channel:
      if (!p.firstChannelLine) p.firstChannelLine = c.line;
      break;
    case Verb::Shutdown:
      p.endLine = c.line;
      p.endVerb = "shutdown";
      break;
    case Verb::Crash:
      p.endLine = c.line;
      p.endVerb = "crash";
      break;
    default:
      break;
  }
}

}  // namespace

int optionReference(const std::string& key) {
  if (key.size() < 2 || key[0] != '$') return 0;
  auto n = decimal(key.substr(1), 9999);
  return n && *n >= 1 ? static_cast<int>(*n) : 0;
}

Scenario readScenario(std::string_view label, std::string_view bytes) {
  Scenario s;
  Progress p;
  int line = 0;
  std::size_t at = 0;
  // One command a line at most: reserving up front keeps a long scenario
  // (a whole board-day) from holding two copies while the list grows.
  s.commands.reserve(static_cast<std::size_t>(
      std::count(bytes.begin(), bytes.end(), '\n') + 2));
  auto error = [&](const std::string& what) {
    s.errors.push_back(std::string(label) + ":" + std::to_string(line) + ": " + what);
  };
  while (at < bytes.size()) {
    ++line;
    std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view text = bytes.substr(at, end - at);
    at = end + 1;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);  // CR LF files
    if (text.find('\0') != std::string_view::npos) {
      error("NUL byte in the line");
      continue;
    }
    try {
      std::vector<std::string> words = splitWords(text);
      if (words.empty()) continue;
      Command c = parseCommand(words, line, p);
      bool event = !isSetup(c.verb) && c.verb != Verb::Start;
      if (event && !p.startLine && !p.endLine) {
        // The first event starts the module.
        Command start;
        start.line = line;
        start.verb = Verb::Start;
        s.commands.push_back(start);
        p.startLine = line;
      }
      checkOrder(c, p);
      if (c.verb == Verb::Start) p.startLine = line;
      s.commands.push_back(std::move(c));
    } catch (const LineError& e) {
      error(e.what);
    }
  }
  if (!p.startLine) {
    Command start;
    start.line = line + 1;
    start.verb = Verb::Start;
    s.commands.push_back(start);
  }
  return s;
}

}  // namespace sim
