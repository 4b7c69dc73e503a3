// The running board's answers to `zorgaval-board ctl ...` and to the
// account commands a sysop runs while the board holds DIR; the changes a
// sysop makes, shared by the control socket and the console.
#pragma once

#include "board/core/board.h"
#include "board/sysop/control.h"
#include "hostprog/delay_end.h"

namespace board {

// Answers one request on the loop's thread: who, delays, pardon USERID,
// blocked, unblock ADDR, say TEXT, kick CHANNEL, shutdown, and account ...
// (handed to the account commands).
ControlHandler sysopHandler(Board& board);

// What a sysop's change did: `error` says why not (nothing was done),
// else `said` is the answer.
struct SysopDone {
  std::string error;
  std::string said;
};
// Who did it, as the trace line names them: `ctl` from the control
// socket, the quoted user-id from the console.
inline const char kByCtl[] = "ctl";
std::string bySysop(const std::string& userid);

// The delay terms of the board's option file (DIR is the current directory).
hostprog::DelayTerms boardDelayTerms(const Config& config);

// Each writes one trace line ending "by WHO" when done.
SysopDone pardonUser(Board& board, const std::string& userid, const std::string& by);
SysopDone unblockAddress(Board& board, const std::string& address, const std::string& by);
SysopDone sayToAll(Board& board, const std::string& text, const std::string& by);
// CHANNEL is the channel's index, as `who` and the trace give it; the
// host's disconnection route ends the call, as a log-off.
SysopDone kickChannel(Board& board, const std::string& channel, const std::string& by);
// As kickChannel, refused when the channel no longer holds USERID (the
// user the sysop saw there; "" for none yet).
SysopDone kickUser(Board& board, const std::string& channel, const std::string& userid,
                   const std::string& by);

}  // namespace board
