// Escaping for the console's answers and the strict reader of its request
// bodies: flat objects of strings only, anything else refused with why.
#include "board/sysop/json.h"

#include <cstdio>

namespace board {

namespace {

// Length of the valid UTF-8 sequence at TEXT[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  const std::size_t n = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  if (n == 2 && b < 0xC2) return 0;  // overlong
  return n;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}
  void space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }
  bool take(char c) {
    space();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool atEnd() {
    space();
    return i_ == s_.size();
  }
  // A string at the reader, unescaped; false with `error` set.
  bool string(std::string* out, std::string* error) {
    if (!take('"')) return *error = "a string was expected at byte " + std::to_string(i_), false;
    while (i_ < s_.size() && s_[i_] != '"') {
      const char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20)
        return *error = "a control character in a string", false;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (i_ >= s_.size()) break;
      const char e = s_[i_++];
      const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      if (const auto k = simple.find(e); k != std::string_view::npos) {
        out->push_back(meant[k]);
        continue;
      }
      if (e != 'u') return *error = std::string("an unknown escape \\") + e, false;
      if (!unicode(out))
        return *error = "a \\u escape that is not four hex digits of a character", false;
    }
    if (!take('"')) return *error = "a string that does not end", false;
    return true;
  }

 private:
  bool hex4(unsigned* v) {
    if (i_ + 4 > s_.size()) return false;
    *v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      *v = *v * 16 + static_cast<unsigned>(d);
    }
    return true;
  }
  bool unicode(std::string* out) {
    unsigned cp = 0;
    if (!hex4(&cp)) return false;
    if (cp >= 0xD800 && cp < 0xDC00) {
      unsigned low = 0;
      if (i_ + 2 > s_.size() || s_[i_] != '\\' || s_[i_ + 1] != 'u') return false;
      i_ += 2;
      if (!hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return false;
    }
    if (cp == 0) return false;  // no NUL inside a user-id or a line
    if (cp < 0x80)
      out->push_back(static_cast<char>(cp));
    else if (cp < 0x800)
      *out += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
    else if (cp < 0x10000)
      *out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
               static_cast<char>(0x80 | (cp & 0x3F))};
    else
      *out += {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
               static_cast<char>(0x80 | (cp >> 6 & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const char c = text[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
      out += esc;
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out + "\"";
}

JsonFields readJsonFields(std::string_view body, const std::set<std::string>& names) {
  JsonFields out;
  Reader r(body);
  if (!r.take('{')) return out.error = "the body is not a JSON object", out;
  bool first = true;
  while (!r.take('}')) {
    if (!first && !r.take(',')) return out.error = "a ',' or '}' was expected", out;
    first = false;
    std::string name, value;
    if (!r.string(&name, &out.error)) return out;
    if (!r.take(':')) return out.error = "a ':' was expected after " + jsonString(name), out;
    if (!r.string(&value, &out.error)) {
      out.error = jsonString(name) + " must be a string (" + out.error + ")";
      return out;
    }
    if (!names.count(name))
      return out.error = "no member " + jsonString(name) + " is taken here", out;
    if (!out.values.emplace(name, value).second)
      return out.error = jsonString(name) + " is given twice", out;
  }
  if (!r.atEnd()) return out.error = "something follows the object", out;
  for (const std::string& n : names)
    if (!out.values.count(n)) return out.error = "the member " + jsonString(n) + " is missing", out;
  return out;
}

}  // namespace board
