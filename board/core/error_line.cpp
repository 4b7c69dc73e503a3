// Whether an error's text already says what is to blame, so every stderr
// line of the board opens as the simulator's do.
#include "board/core/error_line.h"

namespace board {

namespace {

constexpr std::string_view kPrefix = "zorgaval-board: ";

// A file named at the start: a word, with no blank, up to the first colon,
// that reads as a path (a `/` or a `.` in it) and is not a flag.
bool opensWithFile(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view head = text.substr(0, colon);
  if (head.find(' ') != std::string_view::npos || head.front() == '-') return false;
  return head.find('/') != std::string_view::npos || head.find('.') != std::string_view::npos;
}

std::string oneLine(std::string_view text) {
  if (text.substr(0, kPrefix.size()) == kPrefix) text.remove_prefix(kPrefix.size());
  if (opensWithFile(text)) return std::string(text);
  return std::string(kPrefix) + std::string(text);
}

}  // namespace

std::string errorLine(std::string_view text) {
  std::string lines;
  for (;;) {
    const std::size_t end = text.find('\n');
    lines += oneLine(text.substr(0, end));
    if (end == std::string_view::npos || end + 1 == text.size()) break;
    lines += '\n';
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace board
