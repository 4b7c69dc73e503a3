// The one gate a typed user-id and password pass, whatever carries them
// (telnet, SSH's password and keyboard-interactive, the web terminal, the
// console's sign-in): the user-id rule, the throttle (a guess counted when
// it is handed to the hashing workers, forgiven when right), the dummy hash
// for an id with none, the check off the loop, the typed password wiped,
// and the lines a wrong guess writes for the sysop, fail2ban and metrics.
#pragma once

#include <functional>
#include <string>

namespace board {

class Board;

// Passwords a caller may try in one call, on every transport.
inline constexpr int kTries = 3;

// Who is guessing, as the gate's lines name him.
struct Guesser {
  std::string ip;       // the address the throttle counts
  std::string address;  // the caller as a `blocked` line names him
  std::string where;    // his channel's index, or his transport before he has one
};

enum class Answer {
  Good,     // the id's password: the guess is forgiven
  Wrong,    // an id with a hash, another password: `wrong WHERE "ID" "IP"`
  Unknown,  // no such id: `unknown WHERE "ID" "IP"`, after the same time
  Blocked,  // the address is blocked and nothing was checked: `blocked "ADDRESS"`
};

// TYPED (the id as the caller gave it) and PASSWORD checked on the
// workers; DONE runs on the loop with the answer and the user-id the
// rule keeps (TYPED when it keeps nothing), or at once when Blocked.
// PASSWORD is wiped whatever the answer. A guess that blocks the address
// writes its `block` line only when it proves wrong: what the board
// forgives, no line counts against.
void checkLogon(Board& board, const Guesser& who, const std::string& typed, std::string password,
                std::function<void(Answer, const std::string& userid)> done);

// The typed text wiped and emptied.
void forgetText(std::string* secret);

}  // namespace board
