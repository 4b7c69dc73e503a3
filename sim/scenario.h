// The scenario reader: turns the bytes of a scenario file into a checked
// list of commands, or into the errors that stop anything from running.
// Pure: no files, no host, no clock; the same bytes always give the same answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "simhost/simhost.h"
#include "simhost/text.h"

namespace sim {

enum class Verb {
  // setup, before the module starts
  Clock,
  Channels,
  Channel,
  Account,
  Start,
  // events, once it has started
  Logon,
  Connect,
  Occupy,
  Logoff,
  Set,
  Wait,
  At,
  Cleanup,
  Delays,
  Shutdown,
  Crash,
};

using SetField = simhost::Field;  // what `set` changes

using Date = simhost::text::CalendarDate;
using TimeOfDay = simhost::text::TimeOfDay;

// What each verb carries, its words checked and converted. Verbs with no
// words (start, cleanup, delays, shutdown, crash) carry nothing.
struct ClockArgs {
  Date date;
  TimeOfDay time;
};  // clock
struct ChannelsArgs {
  int count = 0;
  std::uint32_t firstNumber = 0;
};
struct ChannelArgs {
  int channel = 0;
  std::uint32_t number = 0;
};
struct AccountArgs {
  std::string userid;
  std::vector<std::string> keys;  // "$N" kept as written
  bool nocount = false;
};
// logon and connect: the host's own arrival (badpassword for logon only).
using ArrivalArgs = simhost::Arrival;
struct OccupyArgs {
  int channel = 0;
  std::int32_t status = 0;
  std::string userid;
};
struct LogoffArgs {
  int channel = 0;
};
struct SetArgs {
  int channel = 0;
  SetField field = SetField::Usage;
  std::int32_t value = 0;  // usage or status figure, or 1/0 for on/off
};
struct WaitArgs {
  std::int64_t seconds = 0;
};
struct AtArgs {
  std::optional<Date> date;
  TimeOfDay time;
};  // date: a full stamp

using Args = std::variant<std::monostate, ClockArgs, ChannelsArgs, ChannelArgs, AccountArgs,
                          ArrivalArgs, OccupyArgs, LogoffArgs, SetArgs, WaitArgs, AtArgs>;

struct Command {
  int line = 0;
  Verb verb = Verb::Start;
  Args args;  // the alternative of its verb
};

struct Scenario {
  std::vector<Command> commands;    // in file order; `start` always present
  std::vector<std::string> errors;  // "FILE:LINE: what is wrong"; empty = good
};

enum : int { DEFAULT_CHANNELS = 32, MAX_USERID_LENGTH = 29 };
// The most of a scenario (or a board's trace to replay) read: far above any
// real one (a busy board's day is about 1 MB), so that an endless input such
// as /dev/zero is refused instead of filling memory.
inline constexpr std::size_t kScenarioLimit = std::size_t{64} << 20;
enum : int {
  EARLIEST_YEAR = simhost::text::kEarliestYear,
  LATEST_YEAR = simhost::text::kLatestYear
};

// Reads a whole scenario. `label` is the file name used in error lines.
// Every bad line is reported (one error per line, the first fault found in
// it), so a sysop can mend a file in one pass; when `errors` is not empty,
// `commands` must not be run. When the file has no `start`, one is inserted
// before the first event command (or at the end), numbered with that line.
Scenario readScenario(std::string_view label, std::string_view bytes);

// The key written `$N` stands for option N; answers N, or 0 when the key is
// an ordinary name.
int optionReference(const std::string& key);

}  // namespace sim
