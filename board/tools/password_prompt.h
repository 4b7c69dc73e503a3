// The password of the `account` command: the first line of standard input
// when that is not a terminal, else asked twice on the terminal without
// echo; hashed here, so the board never waits on a hash.
#pragma once

#include <string>

namespace board {

// The password for USERID, hashed. Throws CommandFailure (2 for no password,
// two that differ or one too long; 1 when it cannot be read or hashed).
std::string passwordHash(const std::string& userid);

}  // namespace board
