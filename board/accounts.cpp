// The sysop's `account` and `ctl` commands: the command line, the password
// hashed here (the board never waits on a hash), and the request carried out
// by the board running in DIR, else for accounts on DIR's own files.
#include "board/accounts.h"

#include <getopt.h>
#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

namespace fs = std::filesystem;

const char kProgram[] = "zorgaval-board";
// The board cuts longer lines, so a longer password could never be typed.
constexpr std::size_t kMaxPassword = 255;

struct Failure {
  int status;
  std::string text;
};

// ---- the command line

struct CommandLine {
  std::vector<std::string> words;  // the command and its operands
  std::string dir;
  bool dirSeen = false;
  std::optional<std::string> keys;
  bool nocount = false;
  bool help = false;
};

const char kAccountUsage[] =
    "usage: zorgaval-board account add USERID [--keys KEY,KEY...] [--nocount] [--dir DIR]\n"
    "       zorgaval-board account keys USERID KEY,KEY... [--dir DIR]\n"
    "       zorgaval-board account password USERID [--dir DIR]\n"
    "       zorgaval-board account remove USERID [--dir DIR]\n"
    "       zorgaval-board account list [--dir DIR]\n"
    "add and password read the password from the first line of standard input,\n"
    "or ask for it twice on a terminal. While a board runs in DIR it carries the\n"
    "command out; a change counts from the user's next log-on.\n";
const char kCtlUsage[] =
    "usage: zorgaval-board ctl who|delays|pardon USERID|say TEXT|shutdown [--dir DIR]\n"
    "       zorgaval-board ctl blocked|unblock ADDRESS [--dir DIR]\n";

// Reads ARGS (the words after "account" or "ctl") with getopt_long; the
// options a command does not take are refused by the caller. Throws Failure.
CommandLine readCommandLine(const std::string& what, const std::vector<std::string>& args) {
  static const option kOptions[] = {{"dir", required_argument, nullptr, 'd'},
                                    {"keys", required_argument, nullptr, 'k'},
                                    {"nocount", no_argument, nullptr, 'n'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  std::vector<std::string> copies;
  copies.reserve(args.size() + 1);
  copies.push_back(std::string(kProgram) + " " + what);
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);

  CommandLine cl;
  bool keysSeen = false;
  std::string error;
  opterr = 0;
  optind = 0;  // getopt starts afresh for each command line
  int c;
  while (error.empty() &&
         (c = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), ":", kOptions,
                          nullptr)) != -1) {
    const std::string word = argv[optind - 1];
    const std::string name = word.substr(0, word.find('='));
    switch (c) {
      case 'd':
        if (cl.dirSeen) error = "--dir given twice";
        cl.dirSeen = true;
        cl.dir = optarg;
        if (cl.dir.empty()) error = "--dir needs a value";
        break;
      case 'k':
        if (keysSeen) error = "--keys given twice";
        keysSeen = true;
        cl.keys = optarg;
        break;
      case 'n':
        cl.nocount = true;
        break;
      case 'h':
        cl.help = true;
        break;
      case ':':
        error = name + " needs a value";
        break;
      default:
        if (word.rfind("--", 0) != 0) {
          error = "unknown option \"-" + std::string(1, static_cast<char>(optopt)) + "\"";
        } else if (optopt != 0) {
          error = name + " takes no value";  // --nocount=yes
        } else {
          error = "unknown option \"" + word + "\"";
        }
    }
  }
  if (!error.empty()) throw Failure{2, what + ": " + error};
  for (int i = optind; i < static_cast<int>(argv.size() - 1); ++i) cl.words.push_back(argv[i]);
  if (cl.dir.empty()) cl.dir = ".";
  return cl;
}

bool printable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

// A user-id the host can keep; a new one must also be one a caller can type
// at the board's prompt (the host's user-id characters). An old account made
// otherwise, by a scenario, can still be changed or removed.
void checkUserId(const std::string& userid, bool isNew) {
  const std::string shown = simhost::quote(userid);
  if (userid.empty()) throw Failure{2, "a user-id cannot be empty"};
  if (userid.size() >= USERID_SIZE) {
    throw Failure{2, "user-id " + shown + " is longer than " +
                         std::to_string(USERID_SIZE - 1) + " characters"};
  }
  if (isNew && !std::all_of(userid.begin(), userid.end(), [](char c) { return isuidc(c); })) {
    throw Failure{2, "user-id " + shown +
                         " may hold only printable ASCII characters other than blanks, ( and )"};
  }
  // What a caller types at the User-ID prompt to sign up with --new-users.
  if (isNew && simhost::text::equalFolded(userid, "new")) {
    throw Failure{2, "user-id " + shown + " is kept for the board's sign-up"};
  }
}

// KEY,KEY... as the account will hold them; "" is no key at all.
std::vector<std::string> readKeys(const std::string& list) {
  std::vector<std::string> keys;
  if (list.empty()) return keys;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string key = list.substr(start, comma == std::string::npos ? comma : comma - start);
    if (key.empty()) throw Failure{2, "keys " + simhost::quote(list) + ": an empty key name"};
    if (!printable(key) || key.front() == ' ' || key.back() == ' ') {
      throw Failure{2, "key " + simhost::quote(key) +
                           " may hold only printable ASCII characters, and no blank at either end"};
    }
    keys.push_back(key);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  AccountRecord record{};
  if (list.size() >= sizeof record.keys) {
    throw Failure{2, "the keys take " + std::to_string(list.size()) + " characters; at most " +
                         std::to_string(sizeof record.keys - 1) + " fit"};
  }
  return keys;
}

std::string joinKeys(const std::vector<std::string>& keys) {
  std::string joined;
  for (const std::string& key : keys) joined += (joined.empty() ? "" : ",") + key;
  return joined;
}

// ---- the password

// One line from a descriptor, without its end of line; false when the
// input ended before a line began.
bool readLine(int fd, std::string* line) {
  line->clear();
  line->reserve(kMaxPassword + 2);  // never moved, so sodium_memzero reaches every copy
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure{1, std::string("cannot read the password: ") + std::strerror(errno)};
    if (n == 0) break;
    any = true;
    if (c == '\n') break;
    if (line->size() <= kMaxPassword) *line += c;  // the excess is refused below
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

// The terminal's echo turned off while a password is typed, and back on
// however the asking ends: returning, throwing, or interrupted by a signal.
termios savedTerminal{};

void restoreAndRaise(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

class NoEcho {
 public:
  NoEcho() : quiet_(::tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
    if (!quiet_) return;
    struct sigaction on {};
    on.sa_handler = restoreAndRaise;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &on, &before_[i]);
    termios silent = savedTerminal;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  ~NoEcho() {
    if (!quiet_) return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &before_[i], nullptr);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  bool quiet_;
  std::array<struct sigaction, 3> before_{};
};

std::string askTerminal(const std::string& prompt) {
  std::string line;
  bool got = false;
  {
    NoEcho silent;  // before the prompt, so nothing typed after it shows
    std::cerr << prompt << std::flush;
    got = readLine(STDIN_FILENO, &line);
  }
  if (!got) throw Failure{2, "no password given"};
  return line;
}

// The password for USERID: the first line of standard input when that is
// not a terminal, else asked twice without echo. Answers its hash.
std::string passwordHash(const std::string& userid) {
  std::string password;
  if (::isatty(STDIN_FILENO)) {
    password = askTerminal("Password for " + userid + ": ");
    std::string again = askTerminal("The same again: ");
    const bool same = again == password;
    sodium_memzero(again.data(), again.size());
    if (!same) {
      sodium_memzero(password.data(), password.size());
      throw Failure{2, "the two passwords differ; nothing was changed"};
    }
  } else if (!readLine(STDIN_FILENO, &password)) {
    throw Failure{2, "no password on standard input (its first line is the password)"};
  }
  std::string problem;
  if (password.empty()) problem = "the password is empty";
  if (password.size() > kMaxPassword) {
    problem = "the password is longer than " + std::to_string(kMaxPassword) +
              " characters, which the board cannot take on a line";
  }
  if (!problem.empty()) {
    sodium_memzero(password.data(), password.size());
    throw Failure{2, problem};
  }
  std::string hash;
  try {
    hash = hashPassword(password);
  } catch (const std::exception& e) {
    sodium_memzero(password.data(), password.size());
    throw Failure{1, e.what()};
  }
  sodium_memzero(password.data(), password.size());
  return hash;
}

// ---- carrying a request out on the host (the board's, or one opened here)

std::string quoted(const std::string& userid) { return simhost::quote(userid); }

// A hash as hashPassword makes them; anything else would never verify, or
// could make every log-on check cost whatever it asks for.
bool usableHash(const std::string& hash) {
  return !hash.empty() && hash.size() < crypto_pwhash_STRBYTES &&
         hash.find('\0') == std::string::npos &&
         crypto_pwhash_str_needs_rehash(hash.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                        crypto_pwhash_MEMLIMIT_INTERACTIVE) == 0;
}

std::string listLine(const simhost::StoredAccount& account, bool hasPassword) {
  std::string line = "account " + quoted(account.userid);
  if (!account.keys.empty()) line += " keys " + quoted(joinKeys(account.keys));
  if (account.nocount) line += " nocount";
  if (!hasPassword) line += "  # no password: cannot log on to the board";
  return line + "\n";
}

// The request words: add USERID KEYS yes|no HASH · keys USERID KEYS ·
// password USERID HASH · remove USERID · list.
Reply carryOut(const std::vector<std::string>& w, PasswordFile& passwords) {
  const auto malformed = [] { return Reply{2, "a malformed account request\n"}; };
  if (w.empty()) return malformed();
  const std::string& command = w[0];
  if (command == "list" && w.size() == 1) {
    std::string text;
    for (const simhost::StoredAccount& account : simhost::accounts()) {
      text += listLine(account, passwords.hashOf(account.userid).has_value());
    }
    return {0, text.empty() ? "# no accounts\n" : text};
  }
  if (w.size() < 2) return malformed();
  const std::string& userid = w[1];
  const std::optional<simhost::StoredAccount> found = simhost::findAccount(userid);
  const std::string none = "there is no account " + quoted(userid) + "\n";
  if (command == "add" && w.size() == 5) {
    checkUserId(userid, true);
    if (!usableHash(w[4])) return {2, "the password hash is not one this board makes\n"};
    if (found) {
      return {1, "there is an account " + quoted(found->userid) +
                     " already; `account password` gives it a new password\n"};
    }
    const std::vector<std::string> keys = readKeys(w[2]);
    if (std::string why = simhost::storeAccount(userid, keys, w[3] == "yes"); !why.empty()) {
      return {1, why + "\n"};
    }
    if (std::string why = passwords.store(userid, w[4]); !why.empty()) {
      simhost::removeAccount(userid);  // an account nobody can log on to is no use
      return {1, why + "\n"};
    }
    return {0, "account " + quoted(userid) + " added\n"};
  }
  if (command == "keys" && w.size() == 3) {
    if (!found) return {1, none};
    const std::vector<std::string> keys = readKeys(w[2]);
    if (std::string why = simhost::storeAccount(found->userid, keys, found->nocount);
        !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + quoted(found->userid) + " now holds " +
                   (keys.empty() ? "no key" : "keys " + quoted(joinKeys(keys))) + "\n"};
  }
  if (command == "password" && w.size() == 3) {
    if (!usableHash(w[2])) return {2, "the password hash is not one this board makes\n"};
    if (!found) return {1, none};
    if (std::string why = passwords.store(found->userid, w[2]); !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + quoted(found->userid) + " has a new password\n"};
  }
  if (command == "remove" && w.size() == 2) {
    if (!found) return {1, none};
    // The password goes first: an account left without one cannot log on.
    if (std::string why = passwords.remove(found->userid); !why.empty()) return {1, why + "\n"};
    if (std::string why = simhost::removeAccount(found->userid); !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + quoted(found->userid) + " removed\n"};
  }
  return malformed();
}

// Carries the request out on DIR's own files, holding DIR as a host does.
// Throws simhost::Fatal when DIR or a file there cannot be used.
Reply carryOutHere(const std::string& dir, const std::vector<std::string>& words) {
  simhost::holdDirectory(dir);
  simhost::Setup setup;
  setup.dir = dir;
  // Only warnings reach the trace here: a write refused, a record skipped.
  setup.trace = [](const std::string& line) {
    std::cerr << kProgram << ": " << line.substr(line.find(' ', line.find(' ') + 1) + 1)
              << std::endl;
  };
  Reply reply;
  try {
    simhost::reset(setup);
    PasswordFile passwords("passwords.dat");
    reply = carryOut(words, passwords);
  } catch (...) {
    simhost::close();
    simhost::releaseDirectory();
    throw;
  }
  simhost::close();
  simhost::releaseDirectory();
  return reply;
}

// Prints a reply: its text on standard output when it succeeded, else on
// standard error, each line naming the program.
int print(const Reply& reply) {
  if (reply.status != 0 && reply.text.empty()) {
    std::cerr << kProgram << ": the board refused the request (status " << reply.status << ")"
              << std::endl;
    return reply.status;
  }
  if (reply.status == 0) {
    std::cout << reply.text << std::flush;
    return 0;
  }
  std::size_t start = 0;
  while (start < reply.text.size()) {
    std::size_t end = reply.text.find('\n', start);
    if (end == std::string::npos) end = reply.text.size();
    const std::string line = reply.text.substr(start, end - start);
    std::cerr << (line.rfind(kProgram, 0) == 0 ? "" : std::string(kProgram) + ": ") << line
              << "\n";
    start = end + 1;
  }
  std::cerr << std::flush;
  return reply.status;
}

std::string shownDir(const std::string& dir) {
  std::error_code ec;
  const fs::path full = fs::absolute(dir, ec).lexically_normal();
  std::string text = ec ? dir : full.string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The account request as it goes to the board, checked and with its
// password hashed. Throws Failure.
std::vector<std::string> accountWords(const CommandLine& cl) {
  static const std::vector<std::pair<std::string, std::size_t>> kOperands = {
      {"add", 1}, {"keys", 2}, {"password", 1}, {"remove", 1}, {"list", 0}};
  if (cl.words.empty()) {
    throw Failure{2, "account: name a command: add, keys, password, remove or list"};
  }
  const std::string& command = cl.words[0];
  const auto entry = std::find_if(kOperands.begin(), kOperands.end(),
                                  [&](const auto& c) { return c.first == command; });
  if (entry == kOperands.end()) {
    throw Failure{2, "account: unknown command " + quoted(command) +
                         " (add, keys, password, remove or list)"};
  }
  const std::string what = "account " + command;
  const std::size_t operands = entry->second;
  if (cl.words.size() != operands + 1) {
    throw Failure{2, what + ": takes " +
                         (operands == 0 ? std::string("no operand")
                          : operands == 1 ? std::string("a user-id")
                                          : std::string("a user-id and KEY,KEY...")) +
                         ", not " + std::to_string(cl.words.size() - 1)};
  }
  if (command != "add" && (cl.keys || cl.nocount)) {
    throw Failure{2, what + ": takes no " + (cl.keys ? "--keys" : "--nocount")};
  }
  if (operands > 0) checkUserId(cl.words[1], command == "add");
  std::vector<std::string> words = {"account", command};
  if (command == "add") {
    const std::string keys = joinKeys(readKeys(cl.keys.value_or("")));
    words.insert(words.end(), {cl.words[1], keys, cl.nocount ? "yes" : "no",
                               passwordHash(cl.words[1])});
  } else if (command == "keys") {
    words.insert(words.end(), {cl.words[1], joinKeys(readKeys(cl.words[2]))});
  } else if (command == "password") {
    words.insert(words.end(), {cl.words[1], passwordHash(cl.words[1])});
  } else if (command == "remove") {
    words.push_back(cl.words[1]);
  }
  return words;
}

// While a board starts in DIR it holds the directory before its socket is
// served; give it that long before calling DIR busy.
std::optional<Reply> askStartingBoard(const std::string& dir,
                                      const std::vector<std::string>& words) {
  for (int tries = 0; tries < 30; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::optional<Reply> reply = askBoard(dir, words)) return reply;
  }
  return std::nullopt;
}

}  // namespace

int accountCommand(const std::vector<std::string>& args) {
  try {
    const CommandLine cl = readCommandLine("account", args);
    if (cl.help) {
      std::cout << kAccountUsage;
      return 0;
    }
    const std::vector<std::string> words = accountWords(cl);
    if (std::optional<Reply> reply = askBoard(cl.dir, words)) return print(*reply);
    // A new board's directory may be made by its first account; the other
    // commands name one that is there.
    if (words[1] != "add" && !fs::is_directory(cl.dir)) {
      throw Failure{1, shownDir(cl.dir) + ": no such directory"};
    }
    try {
      return print(carryOutHere(cl.dir, std::vector<std::string>(words.begin() + 1, words.end())));
    } catch (const simhost::Fatal& fatal) {
      if (std::string(fatal.what()).find("in use by another host") == std::string::npos) throw;
      if (std::optional<Reply> reply = askStartingBoard(cl.dir, words)) return print(*reply);
      throw;
    }
  } catch (const Failure& failure) {
    return print({failure.status, failure.text});
  } catch (const simhost::Fatal& fatal) {
    return print({fatal.status, fatal.what()});
  } catch (const std::exception& e) {
    return print({1, e.what()});
  }
}

int ctlCommand(const std::vector<std::string>& args) {
  // Each command and how many words it takes; say takes the rest as its text.
  static const std::vector<std::pair<std::string, std::size_t>> kCommands = {
      {"who", 0},    {"delays", 0},  {"pardon", 1}, {"say", 1},
      {"shutdown", 0}, {"blocked", 0}, {"unblock", 1}};
  try {
    const CommandLine cl = readCommandLine("ctl", args);
    if (cl.help) {
      std::cout << kCtlUsage;
      return 0;
    }
    if (cl.keys || cl.nocount) throw Failure{2, std::string("ctl: takes no ") +
                                                    (cl.keys ? "--keys" : "--nocount")};
    if (cl.words.empty()) {
      throw Failure{2, "ctl: name a command: who, delays, pardon, say, shutdown, blocked or"
                       " unblock"};
    }
    std::vector<std::string> words = cl.words;
    const std::string& command = words[0];
    const auto entry = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const auto& c) { return c.first == command; });
    if (entry == kCommands.end()) {
      throw Failure{2, "ctl: unknown command " + quoted(command) +
                           " (who, delays, pardon, say, shutdown, blocked or unblock)"};
    }
    if (command == "say" && words.size() > 2) {
      std::string text;
      for (std::size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
      words = {"say", text};
    }
    if (words.size() != entry->second + 1) {
      throw Failure{2, "ctl " + command + ": takes " +
                           (entry->second == 0 ? "no operand" : "one operand") + ", not " +
                           std::to_string(words.size() - 1)};
    }
    if (command == "say" && words[1].empty()) throw Failure{2, "ctl say: the text is empty"};
    if (std::optional<Reply> reply = askBoard(cl.dir, words)) return print(*reply);
    throw Failure{1, "no board is running in " + shownDir(cl.dir)};
  } catch (const Failure& failure) {
    return print({failure.status, failure.text});
  }
}

Reply accountRequest(const std::vector<std::string>& words, PasswordFile& passwords) {
  const bool named = !words.empty() && words[0] == "account";
  try {
    return carryOut(std::vector<std::string>(words.begin() + (named ? 1 : 0), words.end()),
                    passwords);
  } catch (const Failure& failure) {
    return {failure.status, failure.text + "\n"};
  } catch (const simhost::Fatal& fatal) {
    return {fatal.status, std::string(fatal.what()) + "\n"};
  }
}

}  // namespace board
