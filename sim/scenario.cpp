// The scenario reader: splits lines into words (bare or double-quoted),
// checks each command's words against its row of the verb table, and keeps
// the order rules (setup before start, nothing after shutdown or crash).
#include "sim/scenario.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>

#include "simhost/text.h"

namespace sim {
namespace {

namespace text = simhost::text;
using Words = std::vector<std::string>;

// A fault in the line being read; carries the text after "FILE:LINE: ".
struct LineError {
  std::string what;
};

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Reads the quoted word opening at line[i]; answers it and leaves i just
// past the closing quote. Throws LineError.
std::string quotedWord(std::string_view line, std::size_t& i) {
  text::Unquoted read = text::unquote(line, i, true);
  const std::string_view escape = line.substr(read.at, 4);
  switch (read.fault) {
    case text::QuoteFault::None:
      break;
    case text::QuoteFault::Unclosed:
      throw LineError{"unclosed quote in " + text::quote(line)};
    case text::QuoteFault::RawControl:
      throw LineError{"control character " + text::quote(line.substr(read.at, 1)) +
                      " in a quoted word; write it as an escape"};
    case text::QuoteFault::UnknownEscape:
      throw LineError{"bad escape " + text::quote(line.substr(read.at, 2)) + " in a quoted word"};
    case text::QuoteFault::ShortHex:
      throw LineError{"bad escape " + text::quote(escape) + ": \\x takes two hexadecimal digits"};
    case text::QuoteFault::NulEscape:
      throw LineError{"bad escape " + text::quote(escape) + ": a word holds no NUL byte"};
  }
  i = read.end;
  if (i < line.size() && !isBlank(line[i]))
    throw LineError{"text " + text::quote(line.substr(i)) + " straight after a closing quote"};
  return std::move(read.text);
}

// Splits one line (without its line end) into words. Throws LineError.
Words splitWords(std::string_view line) {
  Words words;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') break;
    if (line[i] == '"') {
      words.push_back(quotedWord(line, i));
      continue;
    }
    const std::size_t start = i;
    while (i < line.size() && !isBlank(line[i])) {
      const unsigned char c = line[i];
      if (c == '"' || c == '#' || isControl(c)) {
        std::size_t end = i;
        while (end < line.size() && !isBlank(line[end])) ++end;
        throw LineError{"bad character " + text::quote(line.substr(i, 1)) + " in the word " +
                        text::quote(line.substr(start, end - start))};
      }
      ++i;
    }
    words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

// ---- word readers; each throws LineError naming the word

std::int32_t signed32(const std::string& w, const char* what) {
  const auto v = text::readSigned(w);
  if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
      *v > std::numeric_limits<std::int32_t>::max())
    throw LineError{std::string(what) + " " + text::quote(w) +
                    " is not a decimal number from -2147483648 to 2147483647"};
  return static_cast<std::int32_t>(*v);
}

std::uint32_t hex32(const std::string& w, const char* what) {
  const auto v = text::readHexWord(w);
  if (!v)
    throw LineError{std::string(what) + " " + text::quote(w) +
                    " is not a hexadecimal number of 1 to 8 digits"};
  return *v;
}

int channelIndex(const std::string& w, int channels) {
  const auto v = text::readDecimal(w);
  if (!v) throw LineError{"channel index " + text::quote(w) + " is not a decimal number"};
  if (*v >= static_cast<std::uint64_t>(channels))
    throw LineError{"channel index " + w + " is out of range: " + std::to_string(channels) +
                    " channels, 0 to " + std::to_string(channels - 1)};
  return static_cast<int>(*v);
}

// A user-id reaches the event log and the trace: no control byte may forge
// a line there. Bytes of 0x80 and above are the sysop's own business.
std::string userId(const std::string& w, bool emptyAllowed) {
  if (w.empty() && !emptyAllowed) throw LineError{"the user-id is empty"};
  if (w.size() > MAX_USERID_LENGTH)
    throw LineError{"user-id " + text::quote(w) + " is " + std::to_string(w.size()) +
                    " characters long; at most 29 fit"};
  if (std::any_of(w.begin(), w.end(), [](unsigned char c) { return isControl(c); }))
    throw LineError{"user-id " + text::quote(w) + " holds a control character"};
  return w;
}

Date dateWord(const std::string& w) {
  Date date;
  switch (text::readDate(w, &date)) {
    case text::DateFault::None:
      return date;
    case text::DateFault::Form:
      throw LineError{"date " + text::quote(w) + " is not of the form YYYY-MM-DD"};
    case text::DateFault::NotCalendar:
      throw LineError{"date " + text::quote(w) + " is not a calendar date"};
    case text::DateFault::OutOfRange:
      break;
  }
  throw LineError{"date " + text::quote(w) + " is outside 1980-01-01 to 2107-12-31"};
}

TimeOfDay timeWord(const std::string& w) {
  const auto t = text::readTimeForm(w);
  if (!t) throw LineError{"time " + text::quote(w) + " is not of the form HH:MM:SS"};
  if (!text::isTimeOfDay(*t))
    throw LineError{"time " + text::quote(w) + " is not a time of day (00:00:00 to 23:59:59)"};
  return *t;
}

std::vector<std::string> keyList(const std::string& w) {
  std::vector<std::string> keys;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = w.find(',', from);
    std::string key = w.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (key.empty()) throw LineError{"empty key name in " + text::quote(w)};
    if (key[0] == '$' && optionReference(key) == 0)
      throw LineError{"key " + text::quote(key) +
                      ": $ must be followed by an option number, 1 to 9999"};
    keys.push_back(std::move(key));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return keys;
}

bool onOff(const std::string& w, const std::string& field) {
  if (w == "on") return true;
  if (w == "off") return false;
  throw LineError{"set " + field + " takes on or off, not " + text::quote(w)};
}

// ---- the verbs: each routine reads the words after the verb's own, whose
// count its table row has already checked

Args readClock(const Words& w, int) { return ClockArgs{dateWord(w[1]), timeWord(w[2])}; }

Args readChannels(const Words& w, int) {
  const auto n = text::readDecimal(w[1]);
  if (!n || *n < 1 || *n > 256)
    throw LineError{"channel count " + text::quote(w[1]) + " is not a number from 1 to 256"};
  ChannelsArgs a{static_cast<int>(*n), 0};
  if (w.size() == 3) a.firstNumber = hex32(w[2], "first channel number");
  if (std::uint64_t{a.firstNumber} + a.count - 1 > 0xffffffffULL)
    throw LineError{"channel numbers from " + w[2] + " run past FFFFFFFF"};
  return a;
}

Args readChannel(const Words& w, int channels) {
  return ChannelArgs{channelIndex(w[1], channels), hex32(w[2], "channel number")};
}

Args readAccount(const Words& w, int) {
  AccountArgs a;
  a.userid = userId(w[1], false);
  bool keysSeen = false;
  for (std::size_t k = 2; k < w.size(); ++k) {
    if (w[k] == "keys" && !keysSeen) {
      if (k + 1 == w.size()) throw LineError{"keys needs a list: keys KEY,KEY..."};
      a.keys = keyList(w[++k]);
      keysSeen = true;
    } else if (w[k] == "nocount" && !a.nocount) {
      a.nocount = true;
    } else {
      throw LineError{"unexpected word " + text::quote(w[k]) +
                      " in account: keys KEY,KEY... and nocount may each come once"};
    }
  }
  return a;
}

// logon and connect: the optional words may come in any order, each once.
ArrivalArgs readArrival(const Words& w, int channels, bool passwordRoute) {
  ArrivalArgs a;
  a.channel = channelIndex(w[1], channels);
  a.userid = userId(w[2], false);
  bool usageSeen = false, statusSeen = false;
  for (std::size_t k = 3; k < w.size(); ++k) {
    const std::string& o = w[k];
    if ((o == "usage" && !usageSeen) || (o == "status" && !statusSeen)) {
      if (k + 1 == w.size()) throw LineError{o + " needs a number"};
      const std::int32_t v = signed32(w[++k], o.c_str());
      if (o == "usage") {
        a.usage = v;
        usageSeen = true;
      } else {
        if (v == 0) throw LineError{"status 0 would leave the channel free"};
        a.status = v;
        statusSeen = true;
      }
    } else if (o == "notally" && !a.notally) {
      a.notally = true;
    } else if (o == "directend" && !a.directend) {
      a.directend = true;
    } else if (o == "badpassword" && !a.badpassword && passwordRoute) {
      a.badpassword = true;
    } else {
      throw LineError{"unexpected word " + text::quote(o) + " in " + w[0]};
    }
  }
  return a;
}

Args readLogon(const Words& w, int channels) { return readArrival(w, channels, true); }
Args readConnect(const Words& w, int channels) { return readArrival(w, channels, false); }

Args readOccupy(const Words& w, int channels) {
  OccupyArgs a;
  a.channel = channelIndex(w[1], channels);
  a.status = signed32(w[2], "status");
  if (a.status == 0) throw LineError{"status 0 would leave the channel free"};
  if (w.size() == 4) a.userid = userId(w[3], true);
  return a;
}

Args readLogoff(const Words& w, int channels) { return LogoffArgs{channelIndex(w[1], channels)}; }

Args readSet(const Words& w, int channels) {
  SetArgs a;
  a.channel = channelIndex(w[1], channels);
  const std::string& f = w[2];
  if (f == "usage") {
    a.field = SetField::Usage;
    a.value = signed32(w[3], "usage");
  } else if (f == "status") {
    a.field = SetField::Status;
    a.value = signed32(w[3], "status");
  } else if (f == "notally") {
    a.field = SetField::Notally;
    a.value = onOff(w[3], f);
  } else if (f == "directend") {
    a.field = SetField::Directend;
    a.value = onOff(w[3], f);
  } else {
    throw LineError{"set has no field " + text::quote(f) +
                    "; the fields are usage, status, notally and directend"};
  }
  return a;
}

Args readWait(const Words& w, int) {
  // Up to the whole span of the clock; the run checks the end of it.
  const auto s = text::readDecimal(w[1]);
  if (!s || *s > 5000000000ULL)
    throw LineError{"wait " + text::quote(w[1]) + " is not a number of seconds"};
  return WaitArgs{static_cast<std::int64_t>(*s)};
}

Args readAt(const Words& w, int) {
  if (w.size() == 3) return AtArgs{dateWord(w[1]), timeWord(w[2])};
  return AtArgs{std::nullopt, timeWord(w[1])};
}

Args readNothing(const Words&, int) { return std::monostate{}; }

// One row a verb: its word, how many words its line holds (the verb's own
// included), what to say when too few are given, and the routine that reads
// the rest. In the order of Verb.
struct VerbRow {
  const char* word;
  Verb verb;
  std::size_t least, most;
  const char* usage;  // after "WORD needs "
  Args (*read)(const Words& words, int channels);
};

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

const VerbRow kVerbs[] = {
    {"clock", Verb::Clock, 3, 3, "a date and a time: clock YYYY-MM-DD HH:MM:SS", readClock},
    {"channels", Verb::Channels, 2, 3, "a count: channels N [FIRST]", readChannels},
    {"channel", Verb::Channel, 3, 3, "an index and a number: channel CH NUMBER", readChannel},
    {"account", Verb::Account, 2, kAny, "a user-id: account USERID [keys KEY,KEY...] [nocount]",
     readAccount},
    {"start", Verb::Start, 1, 1, "", readNothing},
    {"logon", Verb::Logon, 3, kAny, "a channel and a user-id", readLogon},
    {"connect", Verb::Connect, 3, kAny, "a channel and a user-id", readConnect},
    {"occupy", Verb::Occupy, 3, 4, "a channel and a status code: occupy CH STATUS [USERID]",
     readOccupy},
    {"logoff", Verb::Logoff, 2, 2, "a channel: logoff CH", readLogoff},
    {"set", Verb::Set, 4, 4,
     "a channel, a field and a value: set CH usage N, status S, notally on|off or "
     "directend on|off",
     readSet},
    {"wait", Verb::Wait, 2, 2, "a number of seconds: wait SECONDS", readWait},
    {"at", Verb::At, 2, 3, "a time: at HH:MM:SS or at YYYY-MM-DD HH:MM:SS", readAt},
    {"cleanup", Verb::Cleanup, 1, 1, "", readNothing},
    {"delays", Verb::Delays, 1, 1, "", readNothing},
    {"shutdown", Verb::Shutdown, 1, 1, "", readNothing},
    {"crash", Verb::Crash, 1, 1, "", readNothing},
};
static_assert(std::size(kVerbs) == static_cast<std::size_t>(Verb::Crash) + 1);

const char* wordOf(Verb v) { return kVerbs[static_cast<std::size_t>(v)].word; }

bool isSetup(Verb v) {
  return v == Verb::Clock || v == Verb::Channels || v == Verb::Channel || v == Verb::Account;
}

// The reader's memory between lines.
struct Progress {
  int channels = DEFAULT_CHANNELS;
  int clockLine = 0, channelsLine = 0, firstChannelLine = 0;
  int startLine = 0;  // explicit or implied start
  int endLine = 0;    // shutdown or crash
  const char* endVerb = nullptr;
};

// Checks one command's words against its verb's row and converts them.
// Throws LineError.
Command parseCommand(const Words& w, int line, const Progress& p) {
  const auto row = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                [&](const VerbRow& r) { return w[0] == r.word; });
  if (row == std::end(kVerbs)) throw LineError{"unknown command " + text::quote(w[0])};
  if (w.size() < row->least) throw LineError{w[0] + " needs " + row->usage};
  if (w.size() > row->most)
    throw LineError{"extra word " + text::quote(w[row->most]) + " after " + w[0]};
  return Command{line, row->verb, row->read(w, p.channels)};
}

// The order rules, checked once the command itself is known to be good.
void checkOrder(const Command& c, Progress& p) {
  if (p.endLine)
    throw LineError{std::string("nothing may follow ") + p.endVerb + " (line " +
                    std::to_string(p.endLine) + ")"};
  if (isSetup(c.verb) || c.verb == Verb::Start) {
    if (p.startLine)
      throw LineError{std::string(wordOf(c.verb)) + " comes after the module has started (line " +
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
        throw LineError{"the channels are already given (line " + std::to_string(p.channelsLine) +
                        ")"};
      if (p.firstChannelLine)
        throw LineError{"channels must come before any channel line (line " +
                        std::to_string(p.firstChannelLine) + ")"};
      p.channelsLine = c.line;
      p.channels = std::get<ChannelsArgs>(c.args).count;
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
  const auto n = text::readDecimal(std::string_view(key).substr(1));
  return n && *n >= 1 && *n <= 9999 ? static_cast<int>(*n) : 0;
}

Scenario readScenario(std::string_view label, std::string_view bytes) {
  Scenario s;
  Progress p;
  int line = 0;
  std::size_t at = 0;
  // One command a line at most: reserving up front keeps a long scenario
  // (a whole board-day) from holding two copies while the list grows.
  s.commands.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n') + 2));
  auto error = [&](const std::string& what) {
    s.errors.push_back(std::string(label) + ":" + std::to_string(line) + ": " + what);
  };
  while (at < bytes.size()) {
    ++line;
    std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view lineText = bytes.substr(at, end - at);
    at = end + 1;
    if (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);  // CR LF files
    if (lineText.find('\0') != std::string_view::npos) {
      error("NUL byte in the line");
      continue;
    }
    try {
      const Words words = splitWords(lineText);
      if (words.empty()) continue;
      Command c = parseCommand(words, line, p);
      const bool event = !isSetup(c.verb) && c.verb != Verb::Start;
      if (event && !p.startLine && !p.endLine) {
        // The first event starts the module.
        s.commands.push_back(Command{line, Verb::Start, {}});
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
    s.commands.push_back(Command{line + 1, Verb::Start, {}});
  }
  return s;
}

}  // namespace sim
