// Account requests carried out on the host, from the running board's
// control socket or from the `account` command on DIR's own files; the
// password's hash comes with the request, so nothing here waits on one.
#include "board/sysop/account_requests.h"

#include <sodium.h>

#include <filesystem>
#include <iostream>

#include "board/caller/userid.h"
#include "board/core/error_line.h"
#include "board/tools/accounts.h"
#include "simhost/event.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace fs = std::filesystem;

namespace {

bool printable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

}  // namespace

// A user-id the host can keep; a new one must also be one a caller can type
// at the board's prompt (the host's user-id characters). An old account made
// otherwise, by a scenario, can still be changed or removed.
void checkUserId(const std::string& userid, bool isNew) {
  const std::string shown = simhost::quote(userid);
  if (userid.empty()) throw CommandFailure{2, "a user-id cannot be empty"};
  if (userid.size() >= USERID_SIZE) {
    throw CommandFailure{2, "user-id " + shown + " is longer than " +
                                std::to_string(USERID_SIZE - 1) + " characters"};
  }
  if (isNew) {
    if (const std::string why = userIdProblem(userid); !why.empty())
      throw CommandFailure{2, "user-id " + shown + ": " + why};
    // The command sends the id as the board keeps it; a request otherwise
    // did not come from it.
    if (const std::string kept = *userIdFromTyped(userid); kept != userid)
      throw CommandFailure{2, "user-id " + shown + " is kept as " + simhost::quote(kept)};
  }
  // What a caller types at the User-ID prompt to sign up with --new-users.
  if (isNew && simhost::text::equalFolded(userid, "new")) {
    throw CommandFailure{2, "user-id " + shown + " is kept for the board's sign-up"};
  }
}

std::vector<std::string> readKeys(const std::string& list) {
  std::vector<std::string> keys;
  if (list.empty()) return keys;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string key = list.substr(start, comma == std::string::npos ? comma : comma - start);
    if (key.empty())
      throw CommandFailure{2, "keys " + simhost::quote(list) + ": an empty key name"};
    if (!printable(key) || key.front() == ' ' || key.back() == ' ') {
      throw CommandFailure{
          2, "key " + simhost::quote(key) +
                 " may hold only printable ASCII characters, and no blank at either end"};
    }
    keys.push_back(key);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  AccountRecord record{};
  if (list.size() >= sizeof record.keys) {
    throw CommandFailure{2, "the keys take " + std::to_string(list.size()) +
                                " characters; at most " + std::to_string(sizeof record.keys - 1) +
                                " fit"};
  }
  return keys;
}

std::string joinKeys(const std::vector<std::string>& keys) {
  std::string joined;
  for (const std::string& key : keys) joined += (joined.empty() ? "" : ",") + key;
  return joined;
}

namespace {

// A hash as hashPassword makes them; anything else would never verify, or
// could make every log-on check cost whatever it asks for.
bool usableHash(const std::string& hash) {
  return !hash.empty() && hash.size() < crypto_pwhash_STRBYTES &&
         hash.find('\0') == std::string::npos &&
         crypto_pwhash_str_needs_rehash(hash.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                        crypto_pwhash_MEMLIMIT_INTERACTIVE) == 0;
}

std::string listLine(const simhost::StoredAccount& account, bool hasPassword) {
  std::string line = "account " + simhost::quote(account.userid);
  if (!account.keys.empty()) line += " keys " + simhost::quote(joinKeys(account.keys));
  if (account.nocount) line += " nocount";
  if (!hasPassword) line += "  # no password: cannot log on to the board";
  return line + "\n";
}

// add USERID KEYS yes|no HASH: a new account with its password, or none.
Reply addAccount(const std::vector<std::string>& w,
                 const std::optional<simhost::StoredAccount>& found, PasswordFile& passwords) {
  const std::string& userid = w[1];
  checkUserId(userid, true);
  if (!usableHash(w[4])) return {2, "the password hash is not one this board makes\n"};
  if (found) {
    return {1, "there is an account " + simhost::quote(found->userid) +
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
  return {0, "account " + simhost::quote(userid) + " added\n"};
}

}  // namespace

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
  const std::string none = "there is no account " + simhost::quote(userid) + "\n";
  if (command == "add" && w.size() == 5) return addAccount(w, found, passwords);
  if (command == "keys" && w.size() == 3) {
    if (!found) return {1, none};
    const std::vector<std::string> keys = readKeys(w[2]);
    if (std::string why = simhost::storeAccount(found->userid, keys, found->nocount);
        !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + simhost::quote(found->userid) + " now holds " +
                   (keys.empty() ? "no key" : "keys " + simhost::quote(joinKeys(keys))) + "\n"};
  }
  if (command == "password" && w.size() == 3) {
    if (!usableHash(w[2])) return {2, "the password hash is not one this board makes\n"};
    if (!found) return {1, none};
    if (std::string why = passwords.store(found->userid, w[2]); !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + simhost::quote(found->userid) + " has a new password\n"};
  }
  if (command == "remove" && w.size() == 2) {
    if (!found) return {1, none};
    // The password goes first: an account left without one cannot log on.
    if (std::string why = passwords.remove(found->userid); !why.empty()) return {1, why + "\n"};
    if (std::string why = simhost::removeAccount(found->userid); !why.empty()) {
      return {1, why + "\n"};
    }
    return {0, "account " + simhost::quote(found->userid) + " removed\n"};
  }
  return malformed();
}

Reply carryOutHere(const std::string& dir, const std::vector<std::string>& words) {
  simhost::holdDirectory(dir);
  simhost::Setup setup;
  setup.dir = dir;
  // Only warnings reach the trace here: a write refused, a record skipped.
  setup.events = [](const simhost::Event& e) {
    std::cerr << errorLine(simhost::eventText(e)) << std::endl;
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

Reply accountRequest(const std::vector<std::string>& words, PasswordFile& passwords) {
  const bool named = !words.empty() && words[0] == "account";
  try {
    return carryOut(std::vector<std::string>(words.begin() + (named ? 1 : 0), words.end()),
                    passwords);
  } catch (const CommandFailure& failure) {
    return {failure.status, failure.text + "\n"};
  } catch (const simhost::Fatal& fatal) {
    return {fatal.status, std::string(fatal.what()) + "\n"};
  }
}

}  // namespace board
