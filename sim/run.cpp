// Carries out a checked scenario: expands `$N` keys, loads the module,
// builds the host from the setup commands, starts the module and drives the
// events, stopping at the first line that cannot be carried out.
#include "sim/run.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <utility>
#include <variant>

#include "hostprog/delays.h"
#include "hostprog/module.h"
#include "hostprog/module_files.h"
#include "simhost/event.h"

namespace sim {
namespace {

// The last moment the packed date can hold.
simhost::Clock latestClock() { return simhost::clockFromCivil({LATEST_YEAR, 12, 31, 23, 59, 59}); }

std::string at(const RunConfig& config, const Command& c) {
  return config.scenarioLabel + ":" + std::to_string(c.line) + ": ";
}

// Where an `at` command takes the clock; `error` is set when a full date
// and time lies in the past.
simhost::Clock atTarget(const AtArgs& c, std::string* error) {
  const simhost::Clock now = simhost::clock();
  if (c.date) {
    simhost::Clock target = clockOf(*c.date, c.time);
    if (target < now)
      *error = simhost::formatClock(target) + " lies in the past: the clock reads " +
               simhost::formatClock(now);
    return target;
  }
  simhost::CivilTime t = simhost::civilFromClock(now);
  simhost::Clock target =
      simhost::clockFromCivil({t.year, t.month, t.day, c.time.hour, c.time.minute, c.time.second});
  if (target < now) target += 86400;  // that time tomorrow
  return target;
}

// Moves the clock to `target`, firing what falls due on the way; answers
// "" or why the clock cannot go there.
std::string advance(simhost::Clock target) {
  if (target > latestClock())
    return "the clock would pass " + simhost::formatClock(latestClock()) +
           ", the last moment a packed date holds";
  simhost::advanceTo(target);
  return "";
}

// One event command; answers "" or what prevented it.
std::string runEvent(const Command& c) {
  switch (c.verb) {
    case Verb::Logon:
    case Verb::Connect: {
      const auto& a = std::get<ArrivalArgs>(c.args);
      return c.verb == Verb::Logon ? simhost::logon(a) : simhost::connect(a);
    }
    case Verb::Occupy: {
      const auto& o = std::get<OccupyArgs>(c.args);
      return simhost::occupy(o.channel, o.status, o.userid);
    }
    case Verb::Logoff:
      return simhost::logoff(std::get<LogoffArgs>(c.args).channel);
    case Verb::Set: {
      const auto& set = std::get<SetArgs>(c.args);
      return simhost::setField(set.channel, set.field, set.value);
    }
    case Verb::Wait:
      return advance(simhost::clock() + std::get<WaitArgs>(c.args).seconds);
    case Verb::At: {
      std::string error;
      const simhost::Clock target = atTarget(std::get<AtArgs>(c.args), &error);
      return error.empty() ? advance(target) : error;
    }
    case Verb::Cleanup:
      simhost::cleanup();
      return "";
    case Verb::Delays:
      for (const hostprog::StoredDelay& d : hostprog::delays())
        simhost::emit({.kind = simhost::EventKind::Delay,
                       .userid = d.userid,
                       .text = hostprog::packedStamp(d.date, d.time)});
      return "";
    case Verb::Shutdown:
      simhost::shutdown();
      return "";
    default:
      return "";  // setup commands and crash are handled by the caller
  }
}

}  // namespace

simhost::Clock clockOf(const Date& d, const TimeOfDay& t) {
  return simhost::clockFromCivil({d.year, d.month, d.day, t.hour, t.minute, t.second});
}

bool expandKeys(std::vector<Command>* commands, const std::string& scenarioLabel,
                const OptionLookup& option, std::vector<std::string>* errors) {
  bool good = true;
  for (Command& c : *commands) {
    if (c.verb != Verb::Account) continue;
    for (std::string& key : std::get<AccountArgs>(c.args).keys) {
      const int n = optionReference(key);
      if (n == 0) continue;
      const std::string where =
          scenarioLabel + ":" + std::to_string(c.line) + ": key " + simhost::quote(key) + ": ";
      OptionText found = option ? option(n) : OptionText{"", "no option file to read"};
      if (found.problem.empty() && found.text.empty())
        found.problem = "option " + std::to_string(n) + " is empty";
      if (found.problem.empty() &&
          (found.text.find(',') != std::string::npos || found.text.find('\0') != std::string::npos))
        found.problem = "option " + std::to_string(n) + ", " + simhost::quote(found.text) +
                        ", cannot be a key name";
      if (!found.problem.empty()) {
        errors->push_back(where + found.problem);
        good = false;
      } else {
        key = found.text;
      }
    }
  }
  return good;
}

namespace {

// The host is built from every setup command at once: they all come before
// `start`, and the clock and channel count shape the fresh host.
simhost::Setup setupOf(const std::vector<Command>& commands, const RunConfig& config) {
  simhost::Setup setup;
  setup.dir = config.dir;
  if (!config.optionsPath.empty()) setup.optionFile = {hostprog::kOptionFile, config.optionsPath};
  setup.clock = simhost::localClockNow();
  setup.events = config.events;
  for (const Command& c : commands) {
    if (const auto* clock = std::get_if<ClockArgs>(&c.args))
      setup.clock = clockOf(clock->date, clock->time);
    if (const auto* channels = std::get_if<ChannelsArgs>(&c.args)) {
      setup.channels = channels->count;
      setup.firstNumber = channels->firstNumber;
    }
  }
  return setup;
}

// Carries out one command of the built host. Answers -1 to go on, else the
// run's exit status; `why` is a refusal to be told with the command's line.
int step(const Command& c, simhost::InitRoutine init, const RunConfig& config,
         std::vector<std::string>* errors, std::string* why, bool* shutDown) {
  switch (c.verb) {
    case Verb::Clock:
    case Verb::Channels:
      return -1;
    case Verb::Channel: {
      const auto& channel = std::get<ChannelArgs>(c.args);
      simhost::setChannelNumber(channel.channel, channel.number);
      return -1;
    }
    case Verb::Account:
      try {
        const auto& account = std::get<AccountArgs>(c.args);
        simhost::setAccount(account.userid, account.keys, account.nocount);
      } catch (const simhost::Fatal& f) {
        if (f.status != 2) throw;
        *why = f.what();
        return 2;
      }
      return -1;
    case Verb::Start:
      try {
        simhost::start(init);
      } catch (const simhost::Fatal& f) {
        if (f.status != 2 || simhost::optionErrors().empty()) throw;
        for (const std::string& e : simhost::optionErrors()) errors->push_back(e);
        return 2;
      }
      return -1;
    case Verb::Crash:
      std::fflush(stdout);
      if (config.beforeCrash) config.beforeCrash();
      _exit(3);
    default:
      *why = runEvent(c);
      if (!why->empty()) return 2;
      if (c.verb == Verb::Shutdown) *shutDown = true;
      return -1;
  }
}

}  // namespace

int run(Scenario scenario, const RunConfig& config, std::vector<std::string>* errors) {
  // Taken, not copied: a board-day scenario is tens of thousands of commands.
  std::vector<Command> commands = std::move(scenario.commands);
  if (!expandKeys(&commands, config.scenarioLabel, config.option, errors)) return 2;

  // However the run ends, short of a crash, the host's files are closed
  // here; a crash leaves the process by _exit and closes nothing.
  struct HostCloser {
    ~HostCloser() { simhost::close(); }
  } closer;
  try {
    simhost::InitRoutine init = hostprog::loadModule(config.modulePath);
    simhost::reset(setupOf(commands, config));
    bool shutDown = false;
    for (const Command& c : commands) {
      std::string why;
      const int status = step(c, init, config, errors, &why, &shutDown);
      // A refusal of the host's that a scenario line caused, told with its line.
      if (!why.empty()) errors->push_back(at(config, c) + why);
      if (status >= 0) return status;
    }
    if (!shutDown) simhost::shutdown();
    return 0;
  } catch (const simhost::Fatal& f) {
    errors->push_back(f.what());
    return f.status;
  }
}

}  // namespace sim
