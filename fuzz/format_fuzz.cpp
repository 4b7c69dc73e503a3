// Fuzzes the host's checked formatter: a message text against a list of
// arguments of mixed kinds. Beyond not crashing, the output must stay within
// what the text and its arguments can account for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "simhost/internal.h"

// Input layout: one byte giving the number of arguments (mod 8); per
// argument a kind byte (even: integer of 8 bytes follows; odd: a length byte
// and that many text bytes follow); the rest is the message text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  auto take = [&](std::size_t n) {
    std::size_t got = at + n <= size ? n : size - at;
    at += got;
    return got;
  };
  if (size == 0) return 0;
  int count = data[at++] % 8;
  std::vector<std::string> texts;
  texts.reserve(count);
  std::vector<HostArg> args;
  std::size_t widest = 0;  // the longest printed form of any argument
  for (int i = 0; i < count && at < size; ++i) {
    std::uint8_t kind = data[at++];
    if (kind % 2 == 0) {
      long long v = 0;
      std::size_t got = take(sizeof v);
      std::memcpy(&v, data + at - got, got);
      args.push_back({HOST_ARG_INT, v, nullptr});
      widest = std::max<std::size_t>(widest, std::to_string(v).size() + 2);
    } else {
      std::size_t len = at < size ? data[at++] : 0;
      std::size_t got = take(len);
      texts.emplace_back(reinterpret_cast<const char*>(data + at - got), got);
      widest = std::max(widest, texts.back().size());
      args.push_back({HOST_ARG_TEXT, 0, nullptr});
    }
  }
  // Texts are handed over zero-terminated, as the module does; the vector
  // is complete, so the pointers stay put.
  std::size_t next = 0;
  for (auto& a : args)
    if (a.kind == HOST_ARG_TEXT) a.text = texts[next++].c_str();
  std::string text(reinterpret_cast<const char*>(data + at), size - at);

  std::vector<std::string> problems;
  std::string out =
      simhost::formatChecked(text, args.data(), static_cast<int>(args.size()), &problems);

  // Every conversion consumes at most one argument and prints at most the
  // larger of its argument's own length and a width or precision of 255
  // (plus a sign or an 0x prefix); everything else is the text's own bytes.
  std::size_t bound = text.size() + args.size() * (std::max<std::size_t>(widest, 255) + 2);
  if (out.size() > bound) {
    std::fprintf(stderr, "output of %zu bytes exceeds the bound %zu\n", out.size(), bound);
    std::abort();
  }
  if (text.find('%') == std::string::npos && (out != text || !problems.empty())) {
    std::fprintf(stderr, "a text without conversions was changed\n");
    std::abort();
  }
  return 0;
}
