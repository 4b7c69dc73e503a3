// Fuzzes the message and option file reader. Beyond not crashing: every
// refusal names a line of the file, every accepted entry sits on a real
// line with a number from 1 to 9999, and a broken entry's line was refused.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "simhost/options.h"

static void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  int lines = 1;
  for (char c : bytes) lines += c == '\n';

  const std::string label = "fuzz.mcv";
  simhost::ParsedOptions parsed = simhost::parseOptionFile(label, bytes);

  std::set<int> refused;
  for (const std::string& e : parsed.errors) {
    if (e.rfind(label + ":", 0) != 0) fail("error without the file", e);
    std::size_t at = label.size() + 1;
    int line = 0;
    while (at < e.size() && e[at] >= '0' && e[at] <= '9' && line < 1000000)
      line = line * 10 + (e[at++] - '0');
    if (line < 1 || line > lines || at >= e.size() || e[at] != ':')
      fail("error without a line of the file", e);
    refused.insert(line);
  }
  for (const auto& [number, entry] : parsed.entries) {
    if (number < 1 || number > 9999 || entry.number != number)
      fail("entry number out of range", std::to_string(number));
    if (entry.line < 1 || entry.line > lines)
      fail("entry on no line", std::to_string(entry.line));
    if (entry.broken && !refused.count(entry.line))
      fail("broken entry whose line was not refused", std::to_string(entry.line));
    // Every reader must cope with whatever the entry holds.
    simhost::readTextOption(parsed, number);
    simhost::readDecimalOption(parsed, number, -5, 7200);
    simhost::readHexOption(parsed, number, 0, 255);
    simhost::readYesNoOption(parsed, number);
  }
  return 0;
}
