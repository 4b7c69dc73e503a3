// The board's command line: each flag read with getopt_long and checked,
// so a bad value is refused with its flag and value before anything runs.
#include "board/core/config.h"

#include <getopt.h>

#include <filesystem>

#include "board/core/net.h"
#include "hostprog/flags.h"
#include "simhost/text.h"

namespace board {

const char kBoardUsage[] =
    "usage: zorgaval-board [--config FILE] [--dir DIR] [--options FILE] [--module PATH]\n"
    "                      [--listen ADDR:PORT|none]\n"
    "                      [--ssh ADDR:PORT] [--ssh-legacy]\n"
    "                      [--channels N] [--first HEX] [--speed N]\n"
    "                      [--clock \"YYYY-MM-DD HH:MM:SS\"] [--new-users KEY,KEY...]\n"
    "                      [--idle-timeout SECONDS] [--prompt-timeout SECONDS]\n"
    "                      [--fail-limit N] [--fail-window SECONDS] [--block-time SECONDS]\n"
    "                      [--block-loopback] [--calls-per-address N] [--signup-limit N]\n"
    "                      [--talk-rate BURST/PER_SECOND] [--charset utf-8|cp437]\n"
    "                      [--console-key KEY]\n"
    "                      [--web ADDR:PORT [--web-tls CERT KEY] [--web-root DIR]\n"
    "                      [--web-trust-proxy ADDR] [--web-host NAME]...]\n"
    "                      [--metrics ADDR:PORT]\n"
    "                      [--metrics-from ADDR]...\n"
    "                      [--behind rlogin:HOST:PORT|telnet:HOST:PORT\n"
    "                      [--behind-user-fields FIELD,FIELD] [--behind-terminal TYPE]]\n"
    "       zorgaval-board account add USERID [--keys KEY,KEY...] [--nocount] [--dir DIR]\n"
    "       zorgaval-board account keys USERID KEY,KEY... [--dir DIR]\n"
    "       zorgaval-board account password|remove USERID [--dir DIR]\n"
    "       zorgaval-board account list [--dir DIR]\n"
    "       zorgaval-board ctl who|delays|pardon USERID|blocked|unblock ADDR|say TEXT|\n"
    "                          kick CHANNEL|shutdown [--dir DIR]\n"
    "       zorgaval-board --help | --version\n";

const char kBoardHelp[] =
    "Runs the Zor Gaval module on a live board that telnet callers reach, and\n"
    "prints the trace of what happens on standard output.\n"
    "\n"
    "  --config FILE       settings read from FILE, one a line as NAME = VALUE with\n"
    "                      the long flags' names; a flag given here wins; SIGHUP\n"
    "                      reads it again (see zorgaval-board(8) for what applies)\n"
    "  --dir DIR           the board's directory (default: the current one)\n"
    "  --options FILE      the module's option file, instead of DIR's zorgaval.mcv\n"
    "  --module PATH       the module to load (default: zorgaval.so beside the\n"
    "                      program, else ../lib/zorgaval/zorgaval.so from it)\n"
    "  --listen ADDR:PORT  where callers connect (default 127.0.0.1:2323; port 0\n"
    "                      takes a free one; IPv6 as [::1]:2323); none: no telnet\n"
    "  --ssh ADDR:PORT     callers may connect by SSH there too (off by default);\n"
    "                      the host key is DIR's ssh_host_ed25519_key, made at first\n"
    "  --ssh-legacy        SSH offers older algorithms too (AES-CBC, SHA-1 key\n"
    "                      exchange) for old BBS clients\n"
    "  --channels N        channels, 1 to 256 (default 32)\n"
    "  --first HEX         number of the first channel (default 00)\n"
    "  --speed N           the host's clock runs N times faster, 1 to 3600\n"
    "  --clock TIME        the host's clock starts at \"YYYY-MM-DD HH:MM:SS\"\n"
    "  --new-users KEYS    a caller who types `new` at the User-ID prompt may choose\n"
    "                      a user-id and a password, and gets an account with these keys\n"
    "  --idle-timeout S    a signed-on caller silent this long is let go (900)\n"
    "  --prompt-timeout S  a caller not signed on this long after the call came\n"
    "                      is let go (60), blank lines and retries included\n"
    "  --fail-limit N      failed log-ons from one address that block it (5; 0 never)\n"
    "  --fail-window S     ... when they fall within this many seconds (600)\n"
    "  --block-time S      a blocked address is refused at connect this long (600)\n"
    "  --block-loopback    loopback addresses are throttled too (exempt by default)\n"
    "  --calls-per-address N  calls at once from one address (0: no cap)\n"
    "  --signup-limit N    sign-ups one address may begin in an hour (3; 0 no limit)\n"
    "  --talk-rate B/R     a talker's lines: a burst of B, then R a second; lines\n"
    "                      past it are dropped and the talker told (10/5)\n"
    "  --charset SET       what callers type is kept as: utf-8 (valid UTF-8, no\n"
    "                      control characters; the default) or cp437\n"
    "  --console-key KEY   an account holding this key may sign in to the sysop's\n"
    "                      console (SYSOP)\n"
    "  --web ADDR:PORT     the web terminal's listener: the page, /ws and /metrics\n"
    "  --web-tls CERT KEY  serve it as HTTPS and WSS with these PEM files\n"
    "  --web-root DIR      the page's files (default: web/ beside the program, else\n"
    "                      ../share/zorgaval/web from it)\n"
    "  --web-trust-proxy ADDR  this reverse proxy's X-Forwarded-For names the caller\n"
    "  --web-host NAME     a name the board is reached by (Host), beside loopback\n"
    "                      and the listener's address\n"
    "  --metrics ADDR:PORT /metrics alone, for a board with no web listener\n"
    "  --metrics-from ADDR /metrics answers this address too, beside loopback\n"
    "  --behind KIND:HOST:PORT  carry each signed-on caller to this board (rlogin\n"
    "                      or telnet) instead of the teleconference\n"
    "  --behind-user-fields A,B  RLogin's client and server user names: each\n"
    "                      userid or text:WORDS (userid,userid)\n"
    "  --behind-terminal TYPE  the terminal type told to the board behind (xterm)\n"
    "\n"
    "Exit status: 0 shut down by signal or `ctl shutdown`; 2 a bad command line or\n"
    "option file; 1 anything else.\n";

namespace {

// A whole number within [min, max], or an error naming the flag.
bool number(const char* flag, const std::string& value, long min, long max, long* out,
            std::string* error) {
  const auto n = simhost::text::readDecimal(value);
  if (!n || *n < static_cast<std::uint64_t>(min) || *n > static_cast<std::uint64_t>(max)) {
    *error = std::string(flag) + ": " + simhost::quote(value) + " is not a number from " +
             std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  *out = static_cast<long>(*n);
  return true;
}

// "YYYY-MM-DD HH:MM:SS", a real date from 1980 to 2107.
std::optional<simhost::Clock> clockText(const std::string& s) {
  simhost::text::CalendarDate d;
  simhost::text::TimeOfDay t;
  if (!simhost::text::readDateTime(s, &d, &t)) return std::nullopt;
  return simhost::clockFromCivil({d.year, d.month, d.day, t.hour, t.minute, t.second});
}

// ADDR:PORT, the address in brackets when it holds colons (IPv6).
bool endpointText(const char* flag, const std::string& s, Endpoint* out, std::string* error) {
  std::string host, port;
  const std::size_t colon = s.rfind(':');
  if (colon != std::string::npos) {
    host = s.substr(0, colon);
    port = s.substr(colon + 1);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    host.clear();  // an IPv6 address needs its brackets
  }
  long n = 0;
  if (host.empty() || port.empty() || !number(flag, port, 0, 65535, &n, error)) {
    *error = std::string(flag) + ": " + simhost::quote(s) +
             " is not ADDR:PORT (e.g. 127.0.0.1:2323 or [::1]:2323)";
    return false;
  }
  out->host = host;
  out->port = static_cast<unsigned>(n);
  return true;
}

// A single address (no port), as the proxy and the metrics rules take it.
bool addressText(const char* flag, const std::string& s, std::string* out, std::string* error) {
  error_code bad;
  const auto address = net::ip::make_address(s, bad);
  if (bad) {
    *error = std::string(flag) + ": " + simhost::quote(s) + " is not an IP address";
    return false;
  }
  *out = address.to_string();
  return true;
}

// ADDR:PORT into HOST and PORT, for the telnet and SSH listeners.
bool endpointText(const char* flag, const std::string& s, std::string* host, unsigned* port,
                  std::string* error) {
  Endpoint e;
  if (!endpointText(flag, s, &e, error)) return false;
  *host = e.host;
  *port = e.port;
  return true;
}

bool listenText(const std::string& s, Config* c, std::string* error) {
  c->telnet = s != "none";
  return !c->telnet || endpointText("--listen", s, &c->listenHost, &c->port, error);
}

bool keyList(const std::string& s, std::vector<std::string>* keys, std::string* error) {
  keys->clear();
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = s.find(',', from);
    const std::string key = s.substr(from, comma == std::string::npos ? comma : comma - from);
    if (key.empty()) {
      *error = "--new-users: " + simhost::quote(s) + " holds an empty key name";
      return false;
    }
    keys->push_back(key);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  // They go into the account record's key field, with its terminator.
  if (s.size() >= sizeof(AccountRecord::keys)) {
    *error = "--new-users: the keys take " + std::to_string(s.size()) + " characters; at most " +
             std::to_string(sizeof(AccountRecord::keys) - 1) + " fit";
    return false;
  }
  return true;
}

// BURST/PER_SECOND, each a whole number from 1 to 1000.
bool talkRate(const std::string& s, TalkLimits* limits, std::string* error) {
  const std::size_t slash = s.find('/');
  long burst = 0, rate = 0;
  if (slash == std::string::npos ||
      !number("--talk-rate", s.substr(0, slash), 1, 1000, &burst, error) ||
      !number("--talk-rate", s.substr(slash + 1), 1, 1000, &rate, error)) {
    *error = "--talk-rate: " + simhost::quote(s) +
             " is not BURST/PER_SECOND (e.g. 10/5), each from 1 to 1000";
    return false;
  }
  limits->burst = static_cast<int>(burst);
  limits->perSecond = static_cast<int>(rate);
  return true;
}

enum Flag {
  kDir = 1,
  kOptions,
  kModule,
  kListen,
  kChannels,
  kFirst,
  kSpeed,
  kClock,
  kNewUsers,
  kIdle,
  kPrompt,
  kFailLimit,
  kFailWindow,
  kBlockTime,
  kCallsPerAddress,
  kSignUpLimit,
  kTalkRate,
  kCharset,
  kBlockLoopback,
  kConsoleKey,
  kSsh,
  kSshLegacy,
  kWeb,
  kWebTls,
  kWebRoot,
  kTrustProxy,
  kWebHost,
  kMetrics,
  kMetricsFrom,
  kHelp,
  kVersion,
  kConfig,
  kBehind,
  kBehindUserFields,
  kBehindTerminal
};

const option kLong[] = {
    {"dir", required_argument, nullptr, kDir},
    {"options", required_argument, nullptr, kOptions},
    {"module", required_argument, nullptr, kModule},
    {"listen", required_argument, nullptr, kListen},
    {"channels", required_argument, nullptr, kChannels},
    {"first", required_argument, nullptr, kFirst},
    {"speed", required_argument, nullptr, kSpeed},
    {"clock", required_argument, nullptr, kClock},
    {"new-users", required_argument, nullptr, kNewUsers},
    {"idle-timeout", required_argument, nullptr, kIdle},
    {"prompt-timeout", required_argument, nullptr, kPrompt},
    {"fail-limit", required_argument, nullptr, kFailLimit},
    {"fail-window", required_argument, nullptr, kFailWindow},
    {"block-time", required_argument, nullptr, kBlockTime},
    {"calls-per-address", required_argument, nullptr, kCallsPerAddress},
    {"signup-limit", required_argument, nullptr, kSignUpLimit},
    {"talk-rate", required_argument, nullptr, kTalkRate},
    {"charset", required_argument, nullptr, kCharset},
    {"block-loopback", no_argument, nullptr, kBlockLoopback},
    {"console-key", required_argument, nullptr, kConsoleKey},
    {"ssh", required_argument, nullptr, kSsh},
    {"ssh-legacy", no_argument, nullptr, kSshLegacy},
    {"web", required_argument, nullptr, kWeb},
    {"web-tls", required_argument, nullptr, kWebTls},
    {"web-root", required_argument, nullptr, kWebRoot},
    {"web-trust-proxy", required_argument, nullptr, kTrustProxy},
    {"web-host", required_argument, nullptr, kWebHost},
    {"metrics", required_argument, nullptr, kMetrics},
    {"metrics-from", required_argument, nullptr, kMetricsFrom},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"config", required_argument, nullptr, kConfig},
    {"behind", required_argument, nullptr, kBehind},
    {"behind-user-fields", required_argument, nullptr, kBehindUserFields},
    {"behind-terminal", required_argument, nullptr, kBehindTerminal},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

namespace {

// The flags that take a whole number: its bounds and where it goes.
struct NumberFlag {
  int code;
  long min, max;
  void (*set)(Config& c, long n);
};
constexpr long kDay = 86400;
const NumberFlag kNumbers[] = {
    {kChannels, 1, HOST_MAX_CHANNELS, [](Config& c, long n) { c.channels = static_cast<int>(n); }},
    {kSpeed, 1, 3600, [](Config& c, long n) { c.speed = static_cast<int>(n); }},
    {kIdle, 1, kDay, [](Config& c, long n) { c.idleSeconds = static_cast<int>(n); }},
    {kPrompt, 1, 3600, [](Config& c, long n) { c.promptSeconds = static_cast<int>(n); }},
    {kFailLimit, 0, 1000, [](Config& c, long n) { c.throttle.failures = static_cast<int>(n); }},
    {kFailWindow, 1, kDay, [](Config& c, long n) { c.throttle.window = std::chrono::seconds(n); }},
    {kBlockTime, 1, 7 * kDay,
     [](Config& c, long n) { c.throttle.blockFor = std::chrono::seconds(n); }},
    {kCallsPerAddress, 0, HOST_MAX_CHANNELS,
     [](Config& c, long n) { c.throttle.callsPerAddress = static_cast<int>(n); }},
    {kSignUpLimit, 0, 1000, [](Config& c, long n) { c.throttle.signUps = static_cast<int>(n); }},
};

// The flags of where callers connect, telnet's and SSH's; nothing for
// another flag.
std::optional<bool> readListenFlag(int flag, const std::string& value, Config& c,
                                   std::string* error) {
  switch (flag) {
    case kListen:
      return listenText(value, &c, error);
    case kSsh:
      return c.ssh = endpointText("--ssh", value, &c.sshHost, &c.sshPort, error);
    case kSshLegacy:
      c.sshLegacy = true;
      return true;
    default:
      return std::nullopt;
  }
}

// The web listener's flags and the metrics'; nothing for another flag.
std::optional<bool> readWebFlag(int flag, const std::string& value, Config& c, std::string* error) {
  switch (flag) {
    case kWeb:
      return endpointText("--web", value, &c.web, error);
    case kMetrics:
      return endpointText("--metrics", value, &c.metrics, error);
    case kWebRoot:
      c.webRoot = value;
      return true;
    case kTrustProxy:
      return addressText("--web-trust-proxy", value, &c.trustProxy, error);
    case kWebHost:
      c.webHosts.push_back(value);
      return true;
    case kMetricsFrom: {
      // One address a scan: a file's value gives way to the command line's.
      std::string address;
      if (!addressText("--metrics-from", value, &address, error)) return false;
      c.metricsFrom = {address};
      return true;
    }
    default:
      return std::nullopt;
  }
}

// The flags that name one word of a set: the character set, the console's
// key. Nothing when FLAG is another.
std::optional<bool> readWordFlag(int flag, const std::string& value, Config& c,
                                 std::string* error) {
  switch (flag) {
    case kCharset:
      if (const auto set = charsetNamed(value)) {
        c.charset = *set;
        return true;
      }
      *error = "--charset: " + simhost::quote(value) + " is not utf-8 or cp437";
      return false;
    case kConsoleKey:
      if (value.empty() || value.find(',') != std::string::npos) {
        *error = "--console-key: " + simhost::quote(value) + " is not one key name";
        return false;
      }
      c.consoleKey = value;
      return true;
    default:
      return std::nullopt;
  }
}

// The front door's flags, read by board/behind/target.cpp. Nothing when
// FLAG is another.
std::optional<bool> readBehindFlag(int flag, const std::string& value, Config& c,
                                   std::string* error) {
  switch (flag) {
    case kBehind:
      *error = readBehind(value, c.behind);
      break;
    case kBehindUserFields:
      *error = readUserFields(value, c.behind);
      break;
    case kBehindTerminal:
      *error = readTerminal(value, c.behind);
      break;
    default:
      return std::nullopt;
  }
  return error->empty();
}

// One flag and its value into the configuration; false with `error` set.
bool readFlag(int flag, const std::string& name, const std::string& value, Config& c,
              std::string* error) {
  if (const std::optional<bool> done = readListenFlag(flag, value, c, error)) return *done;
  if (const std::optional<bool> done = readWordFlag(flag, value, c, error)) return *done;
  if (const std::optional<bool> done = readWebFlag(flag, value, c, error)) return *done;
  if (const std::optional<bool> done = readBehindFlag(flag, value, c, error)) return *done;
  for (const NumberFlag& f : kNumbers) {
    if (f.code != flag) continue;
    long n = 0;
    if (!number(name.c_str(), value, f.min, f.max, &n, error)) return false;
    f.set(c, n);
    return true;
  }
  switch (flag) {
    case kDir:
      c.dir = value;
      return true;
    case kOptions:
      c.options = value;
      return true;
    case kConfig:
      c.configFile = value;
      return true;
    case kModule:
      c.module = value;
      return true;
    case kFirst: {
      const auto hex = simhost::text::readHex(value);
      if (!hex || *hex > 0xffffffffULL) {
        *error = "--first: " + simhost::quote(value) + " is not a hexadecimal channel number";
        return false;
      }
      c.firstNumber = static_cast<unsigned>(*hex);
      return true;
    }
    case kClock:
      c.clock = clockText(value);
      if (!c.clock)
        *error = "--clock: " + simhost::quote(value) +
                 " is not a date and time \"YYYY-MM-DD HH:MM:SS\" from 1980 to 2107";
      return c.clock.has_value();
    case kNewUsers:
      return c.newUsers = keyList(value, &c.newUserKeys, error);
    case kTalkRate:
      return talkRate(value, &c.talk, error);
    case kBlockLoopback:
      c.throttle.includeLoopback = true;
      return true;
    case 'h':
    case kHelp:
      c.help = true;
      return true;
    case kVersion:
      c.version = true;
      return true;
  }
  return true;
}

// A path as given, or taken from BASE when relative and BASE is set: paths
// are named from where the command was given (or the file that holds
// them), never from inside DIR, and read the same again at a reload.
std::string pathFrom(const std::string& base, const std::string& path) {
  if (base.empty() || path.empty() || path.front() == '/') return path;
  return (std::filesystem::path(base) / path).lexically_normal().string();
}

bool namesPath(int flag) {
  return flag == kDir || flag == kOptions || flag == kModule || flag == kWebRoot || flag == kConfig;
}

// Each flag given twice, or mixed wrongly, is refused by a whole scan of
// one command line; this is what holds across the file and the line.
std::string crossChecks(const Config& c) {
  if (!c.telnet && !c.ssh && !c.web.on())
    return "--listen none: no caller could reach the board; give --ssh or --web ADDR:PORT too";
  if (!c.webCert.empty() && !c.web.on())
    return "--web-tls: there is no --web listener to serve it on";
  if (c.firstNumber + std::uint64_t(c.channels) - 1 > 0xffffffffULL)
    return "--first: the channel numbers would pass FFFFFFFF";
  return "";
}

}  // namespace

std::string readFlags(const std::vector<std::string>& args, const std::string& base, Config& c,
                      std::vector<std::string>* given) {
  // "+": the first word that is not a flag ends them, and is refused below.
  hostprog::FlagScan scan("zorgaval-board", args, kLong, "+h");
  for (int flag; (flag = scan.next()) != -1;) {
    if (given != nullptr) given->push_back(scan.nameOf(flag));
    std::string error;
    if (flag == kWebTls) {  // two words: the certificate and the key
      c.webCert = pathFrom(base, scan.value());
      c.webKey = pathFrom(base, scan.takeFollowingWord());
      if (c.webKey.empty()) scan.fail("--web-tls needs two values: CERT KEY (PEM files)");
      continue;
    }
    const std::string value = namesPath(flag) ? pathFrom(base, scan.value()) : scan.value();
    if (!readFlag(flag, scan.nameOf(flag), value, c, &error)) scan.fail(error);
  }
  if (!scan.error().empty()) return scan.error();
  if (const std::vector<std::string> rest = scan.rest(); !rest.empty())
    return "unexpected word " + simhost::quote(rest.front());
  return "";
}

ParsedConfig parseConfig(const std::vector<std::string>& args, const std::string& base) {
  ParsedConfig out;
  // The command line alone first, for --config and its own errors; then
  // the file's settings, and the command line again over them.
  Config line;
  out.error = readFlags(args, base, line, nullptr);
  if (!out.error.empty() || line.help || line.version || line.configFile.empty()) {
    out.config = line;
    if (out.error.empty() && !line.help && !line.version) out.error = crossChecks(line);
    return out;
  }
  out.error = readConfigFile(line.configFile, out.config);
  if (!out.error.empty()) {
    out.inFile = true;
    return out;
  }
  out.error = readFlags(args, base, out.config, nullptr);
  if (out.error.empty()) out.error = crossChecks(out.config);
  return out;
}

}  // namespace board
