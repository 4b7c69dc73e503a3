// Small text routines the host's readers share: ASCII case folding and
// comparison, decimal and hexadecimal numbers, and HH:MM:SS times. Pure: no
// host state, so the simulator, the board and the tests use them freely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace simhost::text {

// Upper-case ASCII letters lowered; every other byte as it is.
char foldAscii(char c);
std::string folded(std::string_view s);
bool equalFolded(std::string_view a, std::string_view b);
bool lessFolded(std::string_view a, std::string_view b);

// The whole of `s` as a number, or nothing: no blanks, no sign but the
// optional leading '-' of readSigned, no digits past what fits.
std::optional<std::uint64_t> readDecimal(std::string_view s);
std::optional<std::int64_t> readSigned(std::string_view s);
std::optional<std::uint64_t> readHex(std::string_view s);
int hexDigit(char c);  // 0..15, or -1

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};
// Exactly "HH:MM:SS" with HH 00..23, MM and SS 00..59.
std::optional<TimeOfDay> readTimeOfDay(std::string_view s);

}  // namespace simhost::text
