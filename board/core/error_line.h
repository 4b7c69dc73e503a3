// The one rule for the board's error lines on standard error, as the
// simulator's: `FILE:LINE:` when a line is to blame, `FILE:` for a whole
// file (or DIR), `zorgaval-board:` otherwise.
#pragma once

#include <string>
#include <string_view>

namespace board {

// TEXT as it goes to standard error, each of its lines kept when it opens
// with a file's name, else after `zorgaval-board: ` (never twice); no
// newline at the end.
std::string errorLine(std::string_view text);

}  // namespace board
