// Carrying out a checked scenario through the substitute host: the setup,
// loading and starting the module, then each event in turn.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "simhost/event.h"
#include "simhost/simhost.h"

namespace sim {

// The text of option N of the option file in use; `problem` is set instead
// ("option 4 is missing from zorgaval.mcv") when there is no usable text.
struct OptionText {
  std::string text;
  std::string problem;
};
using OptionLookup = std::function<OptionText(int n)>;

struct RunConfig {
  std::string scenarioLabel;  // the scenario's name in error lines
  std::string dir;            // the host's directory, absolute
  std::string optionsPath;    // --options, absolute; "" = DIR's zorgaval.mcv
  std::string modulePath;     // the module file, absolute
  OptionLookup option;        // for `$N` keys
  std::function<void(const simhost::Event&)> events;  // each event, as it happens
  // Called just before a `crash` ends the process, after the trace is flushed.
  std::function<void()> beforeCrash;
};

// Runs the scenario to its end, or to the first thing that stops it. The
// answer is the exit status: 0 ran to the end, 2 a line could not be carried
// out or the option file is bad, 1 the module or a data file is unusable.
// A `crash` does not return. Each error, one line, is added to `errors`.
int run(Scenario scenario, const RunConfig& config, std::vector<std::string>* errors);

// Replaces each `$N` key of the account commands by the text of option N.
// Answers false, with errors "FILE:LINE: ...", when an option is missing,
// empty or unreadable, or its text cannot be a key name.
bool expandKeys(std::vector<Command>* commands, const std::string& scenarioLabel,
                const OptionLookup& option, std::vector<std::string>* errors);

// The clock reading of a date and time of the scenario.
simhost::Clock clockOf(const Date& d, const TimeOfDay& t);

}  // namespace sim
