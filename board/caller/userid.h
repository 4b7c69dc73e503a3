// The one rule for a user-id as a person types it, wherever it is typed: the
// `account add` command, the sign-up prompt, and the log-on gate every
// caller passes (telnet, SSH, the web terminal, the console's sign-in).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace board {

// The user-id the host keeps for what was typed: blanks at either end
// dropped, each run of blanks inside folded to one, then 1 to 29 printable
// ASCII characters whose first passes the host's isuidc. Nothing when it
// cannot be one.
std::optional<std::string> userIdFromTyped(std::string_view typed);

// Why userIdFromTyped refuses TYPED, in words for the person who typed it,
// or "" when it does not.
std::string userIdProblem(std::string_view typed);

}  // namespace board
