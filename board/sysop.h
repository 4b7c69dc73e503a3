// The running board's answers to `zorgaval-board ctl ...` and to the
// account commands a sysop runs while the board holds DIR.
#pragma once

#include "board/board.h"
#include "board/control.h"

namespace board {

// Answers one request on the loop's thread: who, delays, pardon USERID,
// blocked, unblock ADDR, say TEXT, shutdown, and account ... (handed to the
// account commands).
ControlHandler sysopHandler(Board& board);

}  // namespace board
