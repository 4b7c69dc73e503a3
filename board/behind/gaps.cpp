// The board behind's output followed byte by byte, so the front door's
// words go where a terminal sees a whole character and no open sequence.
#include "board/behind/gaps.h"

namespace board {

namespace {
constexpr unsigned char kEsc = 0x1b, kBel = 0x07, kCan = 0x18, kSub = 0x1a;
}

std::size_t StreamGaps::toGap(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (atGap()) return i;
    step(static_cast<unsigned char>(bytes[i]));
  }
  return atGap() ? bytes.size() : std::string_view::npos;
}

void StreamGaps::follow(std::string_view bytes) {
  for (const char c : bytes) step(static_cast<unsigned char>(c));
}

void StreamGaps::step(unsigned char byte) {
  switch (state_) {
    case State::Ground:
      break;
    case State::Esc:
      if (byte == '[') {
        state_ = State::Csi;
      } else if (byte == ']' || byte == 'P' || byte == '_' || byte == '^' || byte == 'X') {
        state_ = State::String;  // OSC, DCS, APC, PM, SOS: up to BEL or ESC backslash
      } else if (byte >= 0x20 && byte <= 0x2f) {
        state_ = State::EscMore;  // a charset designation and the like: one more byte
      } else {
        state_ = byte == kEsc ? State::Esc : State::Ground;
      }
      return;
    case State::EscMore:
      if (byte < 0x20 || byte > 0x2f) state_ = State::Ground;
      return;
    case State::Csi:
      if ((byte >= 0x40 && byte <= 0x7e) || byte == kCan || byte == kSub) state_ = State::Ground;
      if (byte == kEsc) state_ = State::Esc;
      return;
    case State::String:
      if (byte == kBel) state_ = State::Ground;
      if (byte == kEsc) state_ = State::StringEsc;
      return;
    case State::StringEsc:
      state_ = byte == '\\' ? State::Ground : State::String;
      return;
    case State::Utf8:
      if ((byte & 0xc0) == 0x80) {
        if (--continuations_ == 0) state_ = State::Ground;
        return;
      }
      state_ = State::Ground;  // a character cut short: the byte begins anew
      break;
  }
  // At a gap: this byte may begin something.
  if (byte == kEsc) {
    state_ = State::Esc;
  } else if (byte >= 0xc2 && byte <= 0xf4) {
    state_ = State::Utf8;
    continuations_ = byte >= 0xf0 ? 3 : byte >= 0xe0 ? 2 : 1;
  }
}

}  // namespace board
