// Fuzzes the scenario reader. Beyond not crashing: every refusal names a
// line of the file, a scenario with no refusal always holds one `start`,
// and every command it accepts sits on a real line within its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/scenario.h"

static void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  int lines = 1;
  for (char c : bytes) lines += c == '\n';

  const std::string label = "fuzz.scn";
  sim::Scenario scenario = sim::readScenario(label, bytes);

  for (const std::string& e : scenario.errors) {
    if (e.rfind(label + ":", 0) != 0) fail("error without the file", e);
    std::size_t at = label.size() + 1;
    int line = 0;
    while (at < e.size() && e[at] >= '0' && e[at] <= '9' && line < 10000000)
      line = line * 10 + (e[at++] - '0');
    if (line < 1 || line > lines || at >= e.size() || e[at] != ':')
      fail("error without a line of the file", e);
  }
  if (!scenario.errors.empty()) return 0;

  int starts = 0, channels = sim::DEFAULT_CHANNELS;
  for (const sim::Command& c : scenario.commands) {
    // A `start` the reader adds at the end of the file is numbered just
    // past its last line.
    const int last = c.verb == sim::Verb::Start ? lines + 1 : lines;
    if (c.line < 1 || c.line > last) fail("command on no line", std::to_string(c.line));
    if (c.userid.size() > sim::MAX_USERID_LENGTH) fail("user-id too long", c.userid);
    switch (c.verb) {
      case sim::Verb::Start: ++starts; break;
      case sim::Verb::Channels: channels = c.count; break;
      case sim::Verb::Clock:
        if (c.date.year < sim::EARLIEST_YEAR || c.date.year > sim::LATEST_YEAR)
          fail("clock out of range", std::to_string(c.date.year));
        break;
      case sim::Verb::Channel: case sim::Verb::Logon: case sim::Verb::Connect:
      case sim::Verb::Occupy: case sim::Verb::Logoff: case sim::Verb::Set:
        if (c.channel < 0 || c.channel >= channels)
          fail("channel index out of range", std::to_string(c.channel));
        break;
      default: break;
    }
  }
  if (starts != 1) fail("accepted scenario without exactly one start", std::to_string(starts));
  return 0;
}
