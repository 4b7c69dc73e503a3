// Small text routines the host's readers share (see text.h): quoting, case
// folding, numbers read with std::from_chars, and HH:MM:SS times.
#include "simhost/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace simhost::text {

std::string quote(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\a':
        out += "\\a";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += ch;
        } else {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0x0f];
        }
    }
  }
  return out + "\"";
}

Unquoted unquote(std::string_view line, std::size_t from, bool refuseControls, bool allowNul) {
  Unquoted out;
  auto fail = [&](QuoteFault fault, std::size_t at) {
    out.fault = fault;
    out.at = at;
    return out;
  };
  std::size_t p = from + 1;
  while (p < line.size() && line[p] != '"') {
    const char c = line[p];
    if (c != '\\') {
      const auto u = static_cast<unsigned char>(c);
      if (refuseControls && (u < 0x20 || u == 0x7f) && c != '\t')
        return fail(QuoteFault::RawControl, p);
      out.text += c;
      ++p;
      continue;
    }
    if (p + 1 >= line.size()) break;  // a backslash ends the line: unclosed
    switch (line[p + 1]) {
      case '\\':
        out.text += '\\';
        break;
      case '"':
        out.text += '"';
        break;
      case 'a':
        out.text += '\a';
        break;
      case 'n':
        out.text += '\n';
        break;
      case 'r':
        out.text += '\r';
        break;
      case 't':
        out.text += '\t';
        break;
      case 'x': {
        const int hi = p + 2 < line.size() ? hexDigit(line[p + 2]) : -1;
        const int lo = p + 3 < line.size() ? hexDigit(line[p + 3]) : -1;
        if (hi < 0 || lo < 0) return fail(QuoteFault::ShortHex, p);
        if (hi == 0 && lo == 0 && !allowNul) return fail(QuoteFault::NulEscape, p);
        out.text += static_cast<char>(hi * 16 + lo);
        p += 4;
        continue;
      }
      default:
        return fail(QuoteFault::UnknownEscape, p);
    }
    p += 2;
  }
  if (p >= line.size() || line[p] != '"') return fail(QuoteFault::Unclosed, from);
  out.end = p + 1;
  return out;
}

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = foldAscii(c);
  return out;
}

bool equalFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return foldAscii(x) == foldAscii(y);
         });
}

bool lessFolded(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(foldAscii(x)) < static_cast<unsigned char>(foldAscii(y));
  });
}

namespace {

template <typename T>
std::optional<T> readWhole(std::string_view s, int base) {
  // from_chars takes a sign for signed types only; a '+' never.
  if (s.empty() || s.front() == '+') return std::nullopt;
  T value{};
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (error != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint64_t> readDecimal(std::string_view s) {
  return readWhole<std::uint64_t>(s, 10);
}

std::optional<std::int64_t> readSigned(std::string_view s) {
  return readWhole<std::int64_t>(s, 10);
}

std::optional<std::uint64_t> readHex(std::string_view s) { return readWhole<std::uint64_t>(s, 16); }

std::optional<std::int64_t> readSignedHeld(std::string_view s) {
  if (s.empty() || s.front() == '+') return std::nullopt;
  std::int64_t value{};
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (end != s.data() + s.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    return s.front() == '-' ? std::numeric_limits<std::int64_t>::min()
                            : std::numeric_limits<std::int64_t>::max();
  }
  if (error != std::errc{}) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> readHexWord(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.size() > 8) return std::nullopt;
  const auto value = readHex(s);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::string hex2(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(n));
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<TimeOfDay> readTimeForm(std::string_view s) {
  if (s.size() != 8 || s[2] != ':' || s[5] != ':') return std::nullopt;
  const auto h = readDecimal(s.substr(0, 2)), m = readDecimal(s.substr(3, 2)),
             sec = readDecimal(s.substr(6, 2));
  if (!h || !m || !sec) return std::nullopt;
  return TimeOfDay{static_cast<int>(*h), static_cast<int>(*m), static_cast<int>(*sec)};
}

bool isTimeOfDay(const TimeOfDay& t) {
  return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59;
}

std::optional<TimeOfDay> readTimeOfDay(std::string_view s) {
  const auto t = readTimeForm(s);
  if (!t || !isTimeOfDay(*t)) return std::nullopt;
  return t;
}

int monthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : lengths[month - 1];
}

DateFault readDate(std::string_view s, CalendarDate* out) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return DateFault::Form;
  const auto y = readDecimal(s.substr(0, 4)), m = readDecimal(s.substr(5, 2)),
             d = readDecimal(s.substr(8, 2));
  if (!y || !m || !d) return DateFault::Form;
  const CalendarDate date{static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)};
  if (date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > monthLength(date.year, date.month))
    return DateFault::NotCalendar;
  if (date.year < kEarliestYear || date.year > kLatestYear) return DateFault::OutOfRange;
  *out = date;
  return DateFault::None;
}

bool readDateTime(std::string_view s, CalendarDate* date, TimeOfDay* time) {
  if (s.size() != 19 || s[10] != ' ') return false;
  const auto t = readTimeOfDay(s.substr(11));
  if (!t || readDate(s.substr(0, 10), date) != DateFault::None) return false;
  *time = *t;
  return true;
}

}  // namespace simhost::text
