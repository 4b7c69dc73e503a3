// Fuzzes what an SSH caller's channel hands the call: the bytes as typed
// through the plain line layer, in reads of varying size, each line then
// kept to the board's character set as the call keeps it. Lines never pass
// the cap nor hold a control character, UTF-8 lines are valid UTF-8, the
// lines hold no more than was received and the echo stays bounded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "board/caller/charset.h"
#include "board/caller/line_layer.h"
#include "refusals.h"

namespace {

// A well-formed UTF-8 sequence at AT, its length; 0 when there is none.
std::size_t utf8Length(const std::string& s, std::size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  const std::size_t n = c < 0x80                ? 1
                        : c >= 0xC2 && c < 0xE0 ? 2
                        : c >= 0xE0 && c < 0xF0 ? 3
                        : c >= 0xF0 && c < 0xF5 ? 4
                                                : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

void checkKept(const std::string& kept, board::Charset charset) {
  for (std::size_t at = 0; at < kept.size();) {
    const auto c = static_cast<unsigned char>(kept[at]);
    if (c < 0x20 || c == 0x7f) fuzzFail("a control byte kept", kept);
    if (charset == board::Charset::Cp437) {
      ++at;
      continue;
    }
    const std::size_t n = utf8Length(kept, at);
    if (n == 0) fuzzFail("kept text is not UTF-8", kept);
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const board::Charset charset = data[0] & 1 ? board::Charset::Cp437 : board::Charset::Utf8;
  const std::size_t step = data[0] / 2 % 31 + 1;  // bytes per read
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  board::PlainLine plain;
  std::size_t out = 0, taken = 0;
  for (std::size_t at = 0, n = 0; at < input.size(); at += step, ++n) {
    plain.setEcho(n % 3 != 0);  // password prompts come and go between reads
    plain.receive(std::string_view(input).substr(at, step));
    out += plain.takeOutput().size();
    board::Line line;
    while (plain.nextLine(&line)) {
      taken += line.text.size() + 1;
      if (line.text.size() > board::kLineCap)
        fuzzFail("a line past the cap", std::to_string(line.text.size()) + " bytes");
      for (unsigned char c : line.text) {
        if (c < 0x20 || c == 0x7f) fuzzFail("a control byte in a line", line.text);
      }
      checkKept(board::keepTyped(line.text, charset, line.cut), charset);
    }
  }
  if (taken > input.size())
    fuzzFail("lines hold more than was received",
             std::to_string(taken) + " for " + std::to_string(input.size()));
  if (out > 3 * input.size())
    fuzzFail("the echo outgrew the input",
             std::to_string(out) + " for " + std::to_string(input.size()));
  return 0;
}
