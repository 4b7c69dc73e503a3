// Where the board behind's output may take the front door's words: between
// characters and between escape sequences, never inside an ESC sequence
// (CSI, OSC and the other strings, charset designations) nor inside a
// UTF-8 character. It follows the stream byte by byte and keeps one state.
#pragma once

#include <cstddef>
#include <string_view>

namespace board {

class StreamGaps {
 public:
  // Whether the bytes so far end at a gap.
  bool atGap() const { return state_ == State::Ground; }
  // Follows BYTES to the first gap and answers how many it took (0 when
  // at a gap already), or npos when they end inside a sequence.
  std::size_t toGap(std::string_view bytes);
  // Follows all of BYTES.
  void follow(std::string_view bytes);

 private:
  enum class State { Ground, Esc, EscMore, Csi, String, StringEsc, Utf8 };
  void step(unsigned char byte);

  State state_ = State::Ground;
  int continuations_ = 0;  // UTF-8 bytes still owed to the character begun
};

}  // namespace board
