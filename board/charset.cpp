// The callers' character set: a strict UTF-8 decoder (no overlong forms, no
// surrogates, nothing past U+10FFFF) that keeps printable characters, and
// the pass-through of CP437.
#include "board/charset.h"

#include <cstdint>

#include "simhost/text.h"

namespace board {

namespace {

// The length of the valid UTF-8 sequence opening at s[0], with its code
// point; 0 when there is none (a stray byte, a bad or broken sequence).
std::size_t decode(std::string_view s, char32_t* point) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  std::size_t length;
  char32_t min;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, min = 0x80, *point = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, min = 0x800, *point = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, min = 0x10000, *point = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xc0) != 0x80) return 0;
    *point = *point << 6 | (b(i) & 0x3f);
  }
  const bool surrogate = *point >= 0xd800 && *point <= 0xdfff;
  if (*point < min || surrogate || *point > 0x10ffff) return 0;
  return length;
}

// Whether the bytes left could open a sequence that more bytes would have
// completed: what a cut leaves at the end of a line.
bool brokenTail(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  const std::size_t want = lead > 0xf4    ? 0
                           : lead >= 0xf0 ? 4
                           : lead >= 0xe0 ? 3
                           : lead >= 0xc2 ? 2
                                          : 0;
  if (want == 0 || s.size() >= want) return false;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xc0) != 0x80) return false;
  }
  return true;
}

bool control(char32_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); }

}  // namespace

std::optional<Charset> charsetNamed(std::string_view name) {
  if (simhost::text::equalFolded(name, "utf-8") || simhost::text::equalFolded(name, "utf8")) {
    return Charset::Utf8;
  }
  if (simhost::text::equalFolded(name, "cp437")) return Charset::Cp437;
  return std::nullopt;
}

std::string keepTyped(std::string_view typed, Charset charset, bool cut) {
  std::string kept;
  kept.reserve(typed.size());
  for (std::size_t i = 0; i < typed.size();) {
    const auto byte = static_cast<unsigned char>(typed[i]);
    if (charset == Charset::Cp437) {
      if (byte >= 0x20 && byte != 0x7f) kept += typed[i];
      ++i;
      continue;
    }
    char32_t point = 0;
    const std::size_t length = decode(typed.substr(i), &point);
    if (length == 0) {
      if (cut && brokenTail(typed.substr(i))) break;
      kept += '?';
      ++i;
      continue;
    }
    if (!control(point)) kept.append(typed.substr(i, length));
    i += length;
  }
  return kept;
}

}  // namespace board
