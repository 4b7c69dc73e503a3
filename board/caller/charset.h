// The callers' character set: what a caller types is kept only as text of
// that set with no control characters, so no caller can act on another's
// screen. Used for what callers type and what the sysop says, never for
// what the module sends.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace board {

enum class Charset {
  Utf8,   // valid UTF-8 without C0 or C1 controls
  Cp437,  // bytes of 0x80 and above are glyphs
};

// "utf-8" or "cp437" (ASCII case ignored; "utf8" too), else nothing.
std::optional<Charset> charsetNamed(std::string_view name);

// TYPED as the board keeps it. C0 controls and DEL are dropped under both
// sets; under UTF-8 so are the C1 controls (U+0080 to U+009F), and each
// byte that is not part of a valid sequence becomes '?'. CUT says the line
// was cut short: a sequence the cut broke at its end is dropped, not shown.
std::string keepTyped(std::string_view typed, Charset charset, bool cut = false);

// The sysop's TEXT (UTF-8, from `ctl say` or the console) as the callers'
// set: unchanged under UTF-8; under CP437 each character as its CP437
// byte, '?' for one CP437 has not.
std::string sysopText(std::string_view text, Charset charset);

}  // namespace board
