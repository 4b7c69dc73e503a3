// Lines from what a caller typed: CR LF, CR NUL, a bare CR and a bare LF
// end one; backspace and delete take the last character back; control bytes
// are dropped; a line past the cap is cut and says so.
#include "board/caller/line_layer.h"

namespace board {

namespace {
constexpr unsigned char kBackspace = 0x08, kDelete = 0x7f;
}

bool LineLayer::nextLine(Line* line) {
  if (lines_.empty()) return false;
  *line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

std::string LineLayer::takeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

void LineLayer::resized(Window window) {
  const bool changed = window.columns != window_.columns || window.rows != window_.rows;
  window_ = window;
  if (changed && watchWindow_) watchWindow_(window);
}

void LineLayer::setRaw() {
  raw_ = true;
  for (const Line& line : lines_) keys_ += line.text + "\r";
  lines_.clear();
  keys_ += partial_;
  partial_.clear();
}

std::string LineLayer::takeKeys() {
  std::string out;
  out.swap(keys_);
  return out;
}

// Raw, the Enter key is carried as the CR it is, whether the caller's
// client sent CR, CR LF or CR NUL; the rest as it came.
void LineLayer::carry(std::string_view bytes) {
  for (const char c : bytes) {
    const bool afterCr = lastWasCr_;
    lastWasCr_ = c == '\r';
    if (!(afterCr && (c == '\0' || c == '\n'))) keys_ += c;
  }
}

void LineLayer::typed(std::string_view bytes, bool shown) {
  if (raw_) {
    carry(bytes);
    return;
  }
  // Only what the caller can see typed is echoed: while a password is
  // typed, the line ends still move the cursor and nothing else shows.
  std::string echo;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool afterCr = lastWasCr_;
    lastWasCr_ = false;
    if (byte == '\r') {
      lastWasCr_ = true;
      endLine();
      echo += "\r\n";
    } else if (byte == '\n' || byte == '\0') {
      if (afterCr) continue;  // the rest of a CR LF or CR NUL
      if (byte == '\n') {
        endLine();
        echo += "\r\n";
      }
    } else if (byte == kBackspace || byte == kDelete) {
      if (!partial_.empty()) {
        eraseLast();
        if (echo_) echo += "\b \b";
      }
    } else if (byte < 0x20) {
      // Other control bytes (escape sequences among them) would act on the
      // screens of the callers a line reaches: they are dropped.
    } else if (partial_.size() < kLineCap) {
      partial_ += c;
      if (echo_) echo += c;
    } else {
      partialCut_ = true;
    }
  }
  if (shown && !echo.empty()) send(echo);
}

void LineLayer::eraseLast() {
  // A UTF-8 character is its lead byte (11xxxxxx) and up to three
  // continuation bytes (10xxxxxx); a byte of no such character goes alone.
  std::size_t from = partial_.size() - 1;
  if (utf8_) {
    std::size_t lead = from;
    const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(partial_[i]); };
    while (lead > 0 && from - lead < 3 && (byte(lead) & 0xC0) == 0x80) --lead;
    if ((byte(lead) & 0xC0) == 0xC0) from = lead;
  }
  partial_.erase(from);
}

void LineLayer::endLine() {
  lines_.push_back(Line{std::move(partial_), partialCut_});
  partial_.clear();
  partialCut_ = false;
}

}  // namespace board
