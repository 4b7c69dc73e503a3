// The sysop's `account` and `ctl` command lines: read and checked, then the
// request sent to the board running in DIR, else (accounts only) carried
// out on DIR's own files; the reply printed, each line naming the program.
#include "board/tools/accounts.h"
#include "board/core/error_line.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "board/caller/userid.h"
#include "board/core/module_options.h"
#include "board/sysop/account_requests.h"
#include "board/sysop/sysop.h"
#include "board/tools/password_prompt.h"
#include "board/tools/run_as.h"
#include "hostprog/delays.h"
#include "hostprog/files.h"
#include "hostprog/flags.h"
#include "hostprog/module_files.h"
#include "hostprog/vetting.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

namespace fs = std::filesystem;

const char kProgram[] = "zorgaval-board";

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
    "usage: zorgaval-board ctl who|delays|pardon USERID|say TEXT|kick CHANNEL|shutdown [--dir "
    "DIR]\n"
    "       zorgaval-board ctl blocked|unblock ADDRESS [--dir DIR]\n";

// Reads ARGS (the words after "account" or "ctl") with getopt_long; the
// options a command does not take are refused by the caller. Throws Failure.
CommandLine readCommandLine(const std::string& what, const std::vector<std::string>& args) {
  static const option kOptions[] = {{"dir", required_argument, nullptr, 'd'},
                                    {"keys", required_argument, nullptr, 'k'},
                                    {"nocount", no_argument, nullptr, 'n'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  CommandLine cl;
  hostprog::FlagScan scan(std::string(kProgram) + " " + what, args, kOptions, "");
  scan.allowEmpty('k');
  for (int c; (c = scan.next()) != -1;) {
    switch (c) {
      case 'd':
        cl.dir = scan.value();
        break;
      case 'k':
        cl.keys = scan.value();
        break;
      case 'n':
        cl.nocount = true;
        break;
      case 'h':
        cl.help = true;
        break;
    }
  }
  if (!scan.error().empty()) throw CommandFailure{2, what + ": " + scan.error()};
  cl.words = scan.rest();
  cl.dirSeen = !cl.dir.empty();
  if (cl.dir.empty()) cl.dir = ".";
  return cl;
}

// Prints a reply: its text on standard output when it succeeded, else on
// standard error, each line opening with what is to blame.
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
    std::cerr << errorLine(line) << "\n";
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
    throw CommandFailure{2, "account: name a command: add, keys, password, remove or list"};
  }
  const std::string& command = cl.words[0];
  const auto entry = std::find_if(kOperands.begin(), kOperands.end(),
                                  [&](const auto& c) { return c.first == command; });
  if (entry == kOperands.end()) {
    throw CommandFailure{2, "account: unknown command " + simhost::quote(command) +
                                " (add, keys, password, remove or list)"};
  }
  const std::string what = "account " + command;
  const std::size_t operands = entry->second;
  if (cl.words.size() != operands + 1) {
    throw CommandFailure{2, what + ": takes " +
                                (operands == 0   ? std::string("no operand")
                                 : operands == 1 ? std::string("a user-id")
                                                 : std::string("a user-id and KEY,KEY...")) +
                                ", not " + std::to_string(cl.words.size() - 1)};
  }
  if (command != "add" && (cl.keys || cl.nocount)) {
    throw CommandFailure{2, what + ": takes no " + (cl.keys ? "--keys" : "--nocount")};
  }
  std::string userid = operands > 0 ? cl.words[1] : "";
  // A new id as a caller will type it: trimmed, its blanks folded.
  if (command == "add") userid = userIdFromTyped(userid).value_or(userid);
  if (operands > 0) checkUserId(userid, command == "add");
  std::vector<std::string> words = {"account", command};
  if (command == "add") {
    const std::string keys = joinKeys(readKeys(cl.keys.value_or("")));
    words.insert(words.end(), {userid, keys, cl.nocount ? "yes" : "no", passwordHash(userid)});
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

// Only the board and the simulator make DIR: a command given a mistyped one
// says so rather than making an account where no board will look.
void checkDir(const std::string& dir) {
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (status.type() == fs::file_type::not_found)
    throw CommandFailure{1, shownDir(dir) +
                                ": no such directory (the board makes it at its first"
                                " start)"};
  if (ec) throw CommandFailure{1, shownDir(dir) + ": cannot be used: " + ec.message()};
  if (status.type() != fs::file_type::directory)
    throw CommandFailure{1, shownDir(dir) + ": not a directory"};
}

}  // namespace

int accountCommand(const std::vector<std::string>& args) {
  try {
    const CommandLine cl = readCommandLine("account", args);
    if (cl.help) {
      std::cout << kAccountUsage;
      return 0;
    }
    checkDir(cl.dir);
    actAsOwnerOf(shownDir(cl.dir));
    const std::vector<std::string> words = accountWords(cl);
    if (std::optional<Reply> reply = askBoard(cl.dir, words)) return print(*reply);
    try {
      return print(carryOutHere(cl.dir, std::vector<std::string>(words.begin() + 1, words.end())));
    } catch (const simhost::Fatal& fatal) {
      if (std::string(fatal.what()).find("in use by another host") == std::string::npos) throw;
      if (std::optional<Reply> reply = askStartingBoard(cl.dir, words)) return print(*reply);
      throw;
    }
  } catch (const CommandFailure& failure) {
    return print({failure.status, failure.text});
  } catch (const simhost::Fatal& fatal) {
    return print({fatal.status, fatal.what()});
  } catch (const std::exception& e) {
    return print({1, e.what()});
  }
}

// `ctl delays` with no board running: the delay file read as it lies,
// and the ends by DIR's option file.
Reply storedDelays(const std::string& dir) {
  const std::string at = hostprog::absolutePath(dir.empty() ? "." : dir);
  const std::string path = at + "/" + hostprog::kDelayFile;
  if (!std::filesystem::exists(path)) return {0, ""};
  std::string error;
  const std::vector<hostprog::StoredDelay> list = hostprog::delaysReadOnly(path, &error);
  if (!error.empty()) return {1, "ctl delays: " + error + "\n"};
  // No host runs here to say the time: the text shows no lift.
  return {0, delaysText(delayRows(list, readModuleOptions("", at).terms, {}))};
}

int ctlCommand(const std::vector<std::string>& args) {
  try {
    const CommandLine cl = readCommandLine("ctl", args);
    if (cl.help) {
      std::cout << kCtlUsage;
      return 0;
    }
    if (cl.keys || cl.nocount)
      throw CommandFailure{2, std::string("ctl: takes no ") + (cl.keys ? "--keys" : "--nocount")};
    if (cl.words.empty()) throw CommandFailure{2, "ctl: name a command: " + ctlVerbList(false)};
    std::vector<std::string> words = cl.words;
    const std::string command = words[0];
    const Verb* verb = findVerb(command, Reach::Ctl);
    if (!verb) {
      throw CommandFailure{
          2, "ctl: unknown command " + simhost::quote(command) + " (" + ctlVerbList(false) + ")"};
    }
    if (verb->arity == Arity::Rest && words.size() > 2) {
      std::string text;
      for (std::size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
      words = {command, text};
    }
    const std::size_t operands = verb->arity == Arity::None ? 0 : 1;
    if (words.size() != operands + 1) {
      throw CommandFailure{2, "ctl " + command + ": takes " +
                                  (operands == 0 ? "no operand" : "one operand") + ", not " +
                                  std::to_string(words.size() - 1)};
    }
    if (verb->arity == Arity::Rest && words[1].empty())
      throw CommandFailure{2, "ctl " + command + ": the text is empty"};
    checkDir(cl.dir);
    actAsOwnerOf(shownDir(cl.dir));
    if (std::optional<Reply> reply = askBoard(cl.dir, words)) return print(*reply);
    if (command == "delays") return print(storedDelays(cl.dir));
    throw CommandFailure{1, "no board is running in " + shownDir(cl.dir)};
  } catch (const CommandFailure& failure) {
    return print({failure.status, failure.text});
  }
}

}  // namespace board
