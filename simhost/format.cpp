// The checked formatter behind prfmsg, byenow and shocst: printf-style
// conversions, each checked against the argument actually passed, so that
// no message text a sysop writes can make the host read memory.
#include <cstdio>
#include <string>
#include <vector>

#include "simhost/internal.h"

namespace simhost {

namespace {

constexpr int kMaxField = 255;

// One conversion as written, taken apart.
struct Conversion {
  std::string flags;   // of "-+ 0#", in the order written
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  bool star = false;   // '*' as width or precision
  std::string length;  // length modifier letters as written
  char kind = 0;       // the conversion character; 0 when the text ended
};

bool isFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '0' || c == '#'; }
bool isLength(char c) {
  return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}

// Reads decimal digits at text[*i], saturating well above the limit.
int readField(const std::string& text, std::size_t* i) {
  int n = 0;
  while (*i < text.size() && text[*i] >= '0' && text[*i] <= '9') {
    if (n <= kMaxField) n = n * 10 + (text[*i] - '0');
    ++*i;
  }
  return n;
}

// Parses the conversion whose '%' is at text[start]; *end receives the
// index just past it.
Conversion parse(const std::string& text, std::size_t start, std::size_t* end) {
  Conversion c;
  std::size_t i = start + 1;
  while (i < text.size() && isFlag(text[i])) c.flags += text[i++];
  if (i < text.size() && text[i] == '*') {
    c.star = true;
    ++i;
  } else if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    c.width = readField(text, &i);
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (i < text.size() && text[i] == '*') {
      c.star = true;
      ++i;
    } else {
      c.precision = readField(text, &i);
    }
  }
  while (i < text.size() && isLength(text[i])) c.length += text[i++];
  if (i < text.size()) c.kind = text[i++];
  *end = i;
  return c;
}

bool isInteger(char kind) {
  switch (kind) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'c':
      return true;
    default:
      return false;
  }
}

// Why the conversion cannot be carried out with `arg` (null: none left), or
// "" when it can.
std::string misfit(const Conversion& c, const std::string& written, const HostArg* arg) {
  if (c.kind == 0) return written + " at the end of the text is incomplete";
  if (!isInteger(c.kind) && c.kind != 's') return written + " is not an allowed conversion";
  if (c.star) return written + ": * is not allowed";
  if (!c.length.empty() && c.length != "l")
    return written + ": only l may come before the conversion";
  if (c.kind == 's' && !c.length.empty()) return written + ": wide texts are not allowed";
  if (c.width > kMaxField) return written + ": width over 255";
  if (c.precision > kMaxField) return written + ": precision over 255";
  if (arg == nullptr) return written + " has no argument";
  if (c.kind == 's') {
    if (arg->kind == HOST_ARG_INT) return written + " given an integer";
    if (arg->kind != HOST_ARG_TEXT) return written + " given an argument of no known kind";
  } else {
    if (arg->kind == HOST_ARG_TEXT) return written + " given a text";
    if (arg->kind != HOST_ARG_INT) return written + " given an argument of no known kind";
  }
  return "";
}

// The printf format for a conversion that fits (%c is built by hand). Flags
// C leaves undefined for a conversion (0 with %s, # with %d, ...) are
// dropped: they could mean nothing useful, and dropping them keeps snprintf
// within its contract.
std::string cFormat(const Conversion& c) {
  std::string allowed;
  switch (c.kind) {
    case 'd':
    case 'i':
      allowed = "-+ 0";
      break;
    case 'u':
      allowed = "-0";
      break;
    case 'x':
    case 'X':
      allowed = "-0#";
      break;
    default:
      allowed = "-";
      break;  // s
  }
  std::string f = "%";
  for (char flag : c.flags) {
    if (allowed.find(flag) != std::string::npos) f += flag;
  }
  if (c.width >= 0) f += std::to_string(c.width);
  if (c.precision >= 0) f += "." + std::to_string(c.precision);
  if (c.length == "l") f += 'l';
  f += c.kind;
  return f;
}

template <class T>
void append(std::string* out, const std::string& format, T value) {
  const int size = std::snprintf(nullptr, 0, format.c_str(), value);
  if (size <= 0) return;
  const std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(size) + 1);
  std::snprintf(out->data() + at, static_cast<std::size_t>(size) + 1, format.c_str(), value);
  out->resize(at + static_cast<std::size_t>(size));
}

}  // namespace

// Writes one conversion that fits its argument.
template <typename Problem>
void convert(const Conversion& c, const std::string& written, const HostArg& arg, std::string* out,
             Problem problem) {
  if (c.kind == 'c') {
    // snprintf would stop at a NUL byte's terminator; build it here. The
    // precision means nothing for one character and is ignored.
    const char byte = static_cast<char>(static_cast<unsigned char>(arg.number));
    const std::size_t pad = c.width > 1 ? static_cast<std::size_t>(c.width - 1) : 0;
    const bool left = c.flags.find('-') != std::string::npos;
    if (!left) out->append(pad, ' ');
    *out += byte;
    if (left) out->append(pad, ' ');
    return;
  }
  const std::string format = cFormat(c);
  const bool wide = c.length == "l";
  switch (c.kind) {
    case 'd':
    case 'i':
      if (wide)
        append(out, format, static_cast<long>(arg.number));
      else
        append(out, format, static_cast<int>(arg.number));
      break;
    case 'u':
    case 'x':
    case 'X':
      if (wide)
        append(out, format, static_cast<unsigned long>(arg.number));
      else
        append(out, format, static_cast<unsigned int>(arg.number));
      break;
    case 's':
      if (arg.text == nullptr) {
        problem(written + " given a null text; (null) printed");
        append(out, format, "(null)");
      } else {
        append(out, format, arg.text);
      }
      break;
  }
}

// A conversion that is copied out literally does not use up an argument:
// the arguments the module passed go, in order, to the conversions that
// can take them.
std::string formatChecked(const std::string& text, const HostArg* args, int count,
                          std::vector<std::string>* problems) {
  auto problem = [problems](std::string what) {
    if (problems != nullptr) problems->push_back(std::move(what));
  };
  if (args == nullptr || count < 0) count = 0;
  std::string out;
  int next = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t percent = text.find('%', i);
    if (percent == std::string::npos) {
      out.append(text, i, std::string::npos);
      break;
    }
    out.append(text, i, percent - i);
    if (percent + 1 < text.size() && text[percent + 1] == '%') {
      out += '%';
      i = percent + 2;
      continue;
    }
    std::size_t end = 0;
    const Conversion c = parse(text, percent, &end);
    const std::string written = text.substr(percent, end - percent);
    i = end;
    const HostArg* arg = next < count ? &args[next] : nullptr;
    const std::string why = misfit(c, written, arg);
    if (!why.empty()) {
      out += written;
      problem(why);
      continue;
    }
    ++next;
    convert(c, written, *arg, &out, problem);
  }
  return out;
}

}  // namespace simhost
