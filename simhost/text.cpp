// Small text routines the host's readers share (see text.h): case folding,
// numbers read with std::from_chars, and HH:MM:SS times.
#include "simhost/text.h"

#include <algorithm>
#include <charconv>

namespace simhost::text {

char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = foldAscii(c);
  return out;
}

bool equalFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

bool lessFolded(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(foldAscii(x)) <
               static_cast<unsigned char>(foldAscii(y));
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

std::optional<std::uint64_t> readHex(std::string_view s) {
  return readWhole<std::uint64_t>(s, 16);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<TimeOfDay> readTimeOfDay(std::string_view s) {
  if (s.size() != 8 || s[2] != ':' || s[5] != ':') return std::nullopt;
  auto two = [&](std::size_t at, int most) -> std::optional<int> {
    const char a = s[at], b = s[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    const int v = (a - '0') * 10 + (b - '0');
    if (v > most) return std::nullopt;
    return v;
  };
  const auto h = two(0, 23), m = two(3, 59), sec = two(6, 59);
  if (!h || !m || !sec) return std::nullopt;
  return TimeOfDay{*h, *m, *sec};
}

}  // namespace simhost::text
