// The trace: one line per host event, stamped with the virtual clock, and
// the quoting every text and user-id in it gets.
#include <cstdio>

#include "simhost/state.h"

namespace simhost {

std::string quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        }
    }
  }
  return out + "\"";
}

void trace(const std::string& event) {
  if (state.setup.trace) state.setup.trace(formatClock(state.clock) + " " + event);
}

void warning(const std::string& text) { trace("warning " + quote(text)); }

}  // namespace simhost
