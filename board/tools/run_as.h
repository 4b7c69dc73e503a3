// root running `account` or `ctl` on a DIR that another user owns (the
// service's) acts as that user, so every file it leaves there is one the
// board can open, and the board's control socket lets it in.
#pragma once

#include <string>

namespace board {

// Under root, becomes DIR's owner (its groups, its group, then its user)
// before any file of DIR is touched; otherwise does nothing. Throws
// CommandFailure(1) naming the user to run as when that cannot be done.
void actAsOwnerOf(const std::string& dir);

}  // namespace board
