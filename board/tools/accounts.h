// `zorgaval-board account ...` and `zorgaval-board ctl ...`: the sysop's
// commands, carried out by the running board over its control socket, or
// for accounts directly on DIR's files when no board runs there.
#pragma once

// The three parts: accounts.cpp (the command lines), password_prompt.cpp
// and account_requests.cpp (carrying a request out).

#include <string>
#include <vector>

#include "board/caller/passwords.h"
#include "board/sysop/control.h"

namespace board {

// A command refused or failed: its exit status and the words that say why.
struct CommandFailure {
  int status;
  std::string text;
};

// ARGS are the words after "account" or "ctl", --dir among them. Each
// prints its own output and errors and answers the exit status: 0 done,
// 2 a bad command line, 1 anything else.
int accountCommand(const std::vector<std::string>& args);
int ctlCommand(const std::vector<std::string>& args);

// The running board's side of an account request that came over the socket
// (the client has hashed any password already, so the board never waits on
// a hash here). Called on the loop's thread, with the host started.
Reply accountRequest(const std::vector<std::string>& words, PasswordFile& passwords);

}  // namespace board
