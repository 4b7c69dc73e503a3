// Fuzzes the scenario reader. Beyond not crashing: every refusal names a
// line of the file, a scenario with no refusal always holds one `start`,
// and every command it accepts sits on a real line within its bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

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
  // Every verb's user-id and channel index, wherever it carries one.
  auto checkUser = [](const std::string& id) {
    if (id.size() > sim::MAX_USERID_LENGTH) fuzzFail("user-id too long", id);
    for (unsigned char c : id)
      if (c < 0x20 || c == 0x7f) fuzzFail("control byte in a user-id", id);
  };
  auto checkChannel = [&](int ch) {
    if (ch < 0 || ch >= channels) fuzzFail("channel index out of range", std::to_string(ch));
  };
  for (const sim::Command& c : scenario.commands) {
    // A `start` the reader adds at the end of the file is numbered just
    // past its last line.
    const int last = c.verb == sim::Verb::Start ? lines + 1 : lines;
    if (c.line < 1 || c.line > last) fuzzFail("command on no line", std::to_string(c.line));
    if (c.verb == sim::Verb::Start) ++starts;
    std::visit(
        [&](const auto& a) {
          using A = std::decay_t<decltype(a)>;
          if constexpr (std::is_same_v<A, sim::ChannelsArgs>) channels = a.count;
          if constexpr (std::is_same_v<A, sim::ClockArgs>) {
            if (a.date.year < sim::EARLIEST_YEAR || a.date.year > sim::LATEST_YEAR)
              fuzzFail("clock out of range", std::to_string(a.date.year));
          }
          if constexpr (requires { a.userid; }) checkUser(a.userid);
          if constexpr (requires { a.channel; }) checkChannel(a.channel);
        },
        c.args);
  }
  if (starts != 1) fuzzFail("accepted scenario without exactly one start", std::to_string(starts));
  return 0;
}
