// The callers' character set: a strict UTF-8 decoder (no overlong forms, no
// surrogates, nothing past U+10FFFF) that keeps printable characters, and
// the pass-through of CP437.
#include "board/caller/charset.h"

#include <algorithm>
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

// The glyphs of CP437's bytes 0x80 to 0xFF, as Unicode.
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

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

std::string sysopText(std::string_view text, Charset charset) {
  if (charset == Charset::Utf8) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t point = 0;
    const std::size_t length = decode(text.substr(i), &point);
    i += length == 0 ? 1 : length;
    if (length != 0 && point < 0x80) {
      out += static_cast<char>(point);
      continue;
    }
    const auto* glyph = std::find(std::begin(kCp437High), std::end(kCp437High), point);
    out += length == 0 || glyph == std::end(kCp437High)
               ? '?'
               : static_cast<char>(0x80 + (glyph - std::begin(kCp437High)));
  }
  return out;
}

}  // namespace board
