// Fuzzes the message and option file reader. Beyond not crashing: every
// refusal names a line of the file, every accepted entry sits on a real
// line with a number from 1 to 9999, and a broken entry's line was refused.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/refusals.h"
#include "simhost/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int lines = lineCount(bytes);

  const std::string label = "fuzz.mcv";
  simhost::ParsedOptions parsed = simhost::parseOptionFile(label, bytes);
  const std::vector<int> refusedLines = checkRefusals(label, lines, parsed.errors);
  const std::set<int> refused(refusedLines.begin(), refusedLines.end());
  for (const auto& [number, entry] : parsed.entries) {
    if (number < 1 || number > 9999 || entry.number != number)
      fuzzFail("entry number out of range", std::to_string(number));
    if (entry.line < 1 || entry.line > lines)
      fuzzFail("entry on no line", std::to_string(entry.line));
    if (entry.broken && !refused.count(entry.line))
      fuzzFail("broken entry whose line was not refused", std::to_string(entry.line));
    // Every reader must cope with whatever the entry holds.
    simhost::readTextOption(parsed, number);
    simhost::readDecimalOption(parsed, number, -5, 7200);
    simhost::readHexOption(parsed, number, 0, 255);
    simhost::readYesNoOption(parsed, number);
  }
  return 0;
}
