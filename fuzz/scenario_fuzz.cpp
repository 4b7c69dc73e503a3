// Fuzzes the scenario reader. Beyond not crashing: every refusal names a
// line of the file, a scenario with no refusal always holds one `start`,
// and every command it accepts sits on a real line within its bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/refusals.h"
#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int lines = lineCount(bytes);

  const std::string label = "fuzz.scn";
  sim::Scenario scenario = sim::readScenario(label, bytes);
  checkRefusals(label, lines, scenario.errors);
  if (!scenario.errors.empty()) return 0;

  int starts = 0, channels = sim::DEFAULT_CHANNELS;
  for (const sim::Command& c : scenario.commands) {
    // A `start` the reader adds at the end of the file is numbered just
    // past its last line.
    const int last = c.verb == sim::Verb::Start ? lines + 1 : lines;
    if (c.line < 1 || c.line > last) fuzzFail("command on no line", std::to_string(c.line));
    if (c.userid.size() > sim::MAX_USERID_LENGTH) fuzzFail("user-id too long", c.userid);
    switch (c.verb) {
      case sim::Verb::Start: ++starts; break;
      case sim::Verb::Channels: channels = c.count; break;
      case sim::Verb::Clock:
        if (c.date.year < sim::EARLIEST_YEAR || c.date.year > sim::LATEST_YEAR)
          fuzzFail("clock out of range", std::to_string(c.date.year));
        break;
      case sim::Verb::Channel: case sim::Verb::Logon: case sim::Verb::Connect:
      case sim::Verb::Occupy: case sim::Verb::Logoff: case sim::Verb::Set:
        if (c.channel < 0 || c.channel >= channels)
          fuzzFail("channel index out of range", std::to_string(c.channel));
        break;
      default: break;
    }
  }
  if (starts != 1) fuzzFail("accepted scenario without exactly one start", std::to_string(starts));
  return 0;
}
