// Small text routines the host's readers share: the trace's quoting and its
// inverse, ASCII case folding, decimal and hexadecimal numbers, and HH:MM:SS
// times. Pure: no host state, so the simulator, the board and the tests use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace simhost::text {

// ---- quoting
// The trace's quoting: the text in double quotes, `"` and `\` as `\"` and
// `\\`, every byte outside printable ASCII as `\a`, `\n`, `\r`, `\t` or
// `\xhh` (lower-case hex).
std::string quote(std::string_view text);

// What stops a quoted text from being read; `at` in Unquoted is the
// offset of the backslash (or of the raw byte) to blame.
enum class QuoteFault {
  None,
  Unclosed,       // no closing quote (a backslash last on the line included)
  UnknownEscape,  // a backslash before anything but \ " a n r t x
  ShortHex,       // \x not followed by two hexadecimal digits
  NulEscape,      // \x00: no text the host reads holds a NUL byte
  RawControl,     // a control byte other than tab, when refused
};

struct Unquoted {
  std::string text;
  std::size_t end = 0;  // just past the closing quote
  QuoteFault fault = QuoteFault::None;
  std::size_t at = 0;
};

// Reads the double-quoted text opening at line[from], the inverse of quote()
// (hex digits in either case). Raw control bytes other than tab are taken as
// they are unless `refuseControls`; `\x00` is refused unless `allowNul`
// (a wire that carries any byte, such as the board's control socket).
Unquoted unquote(std::string_view line, std::size_t from, bool refuseControls,
                 bool allowNul = false);

// ---- case
// Upper-case ASCII letters lowered; every other byte as it is.
char foldAscii(char c);
std::string folded(std::string_view s);
bool equalFolded(std::string_view a, std::string_view b);
bool lessFolded(std::string_view a, std::string_view b);

// ---- numbers
// The whole of `s` as a number, or nothing: no blanks, no sign but the
// optional leading '-' of readSigned, no digits past what fits.
std::optional<std::uint64_t> readDecimal(std::string_view s);
std::optional<std::int64_t> readSigned(std::string_view s);
std::optional<std::uint64_t> readHex(std::string_view s);
int hexDigit(char c);     // 0..15, or -1
std::string hex2(int n);  // two upper-case hexadecimal digits at least: 0F, 1F0

// As readSigned, but digits past what fits hold the answer at the type's
// bound, so that a sysop's 10^30 is still a number, only "above" any range.
std::optional<std::int64_t> readSignedHeld(std::string_view s);

// 1 to 8 hexadecimal digits with an optional leading 0x or 0X: the form of
// channel numbers and of the hexadecimal options.
std::optional<std::uint32_t> readHexWord(std::string_view s);

// ---- times
struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};
// Exactly "HH:MM:SS" of digits, whatever the figures.
std::optional<TimeOfDay> readTimeForm(std::string_view s);
bool isTimeOfDay(const TimeOfDay& t);  // 00:00:00 to 23:59:59
// Exactly "HH:MM:SS" with HH 00..23, MM and SS 00..59.
std::optional<TimeOfDay> readTimeOfDay(std::string_view s);

// ---- dates: the one home of the calendar's rules for every reader
// The years a packed date holds.
inline constexpr int kEarliestYear = 1980, kLatestYear = 2107;
struct CalendarDate {
  int year = 0, month = 0, day = 0;
};
int monthLength(int year, int month);  // month 1..12, the Gregorian leap rule
enum class DateFault {
  None,
  Form,         // not "YYYY-MM-DD" of digits
  NotCalendar,  // no such day (month 13, 2027-02-29)
  OutOfRange,   // before 1980-01-01 or after 2107-12-31
};
// "YYYY-MM-DD", a calendar date the packed date can hold.
DateFault readDate(std::string_view s, CalendarDate* out);
// "YYYY-MM-DD HH:MM:SS", a date as readDate takes it and a time of day.
bool readDateTime(std::string_view s, CalendarDate* date, TimeOfDay* time);

}  // namespace simhost::text
