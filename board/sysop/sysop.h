// The sysop's changes to the running board (a pardon, an unblock, a line to
// every caller, a kick, the way down) and the text `ctl` prints of what
// the sysop looks at; the board's side of the control socket.
#pragma once

#include "board/caller/throttle.h"
#include "board/sysop/control.h"
#include "board/sysop/rows.h"
#include "board/sysop/verbs.h"

namespace board {

// Answers one request on the loop's thread: a verb of the table that ctl
// may ask (board/sysop/verbs.cpp), or account ... (handed to the account
// commands).
ControlHandler sysopHandler(SysopDesk desk);

// Who did it, as the trace line names them: `ctl` from the control
// socket, the quoted user-id from the console.
inline const char kByCtl[] = "ctl";
std::string bySysop(const std::string& userid);

// Each writes one trace line ending "by WHO" when done.
SysopDone pardonUser(SysopDesk& desk, const Order& order);
SysopDone unblockAddress(SysopDesk& desk, const Order& order);
SysopDone sayToAll(SysopDesk& desk, const Order& order);
// The operand is the channel's index, as `who` and the trace give it; the
// host's disconnection route ends the call, as a log-off. Refused when the
// order names the user seen there and the channel no longer holds them.
SysopDone kickChannel(SysopDesk& desk, const Order& order);
// After the answer has gone, the board goes down.
SysopDone shutDown(SysopDesk& desk, const Order& order);

// ctl's text of the rows.
std::string whoText(const std::vector<WhoRow>& rows);
std::string delaysText(const std::vector<DelayRow>& rows);
std::string blockedText(const std::vector<Throttle::Block>& rows);

}  // namespace board
