// Carries out a checked scenario: expands `$N` keys, loads the module,
// builds the host from the setup commands, starts the module and drives the
// events, stopping at the first line that cannot be carried out.
#include "sim/run.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <utility>

namespace sim {
namespace {

// The last moment the packed date can hold.
simhost::Clock latestClock() {
  return simhost::clockFromCivil({LATEST_YEAR, 12, 31, 23, 59, 59});
}

std::string at(const RunConfig& config, const Command& c) {
  return config.scenarioLabel + ":" + std::to_string(c.line) + ": ";
}

simhost::Field hostField(SetField f) {
  switch (f) {
    case SetField::Usage: return simhost::Field::Usage;
    case SetField::Status: return simhost::Field::Status;
    case SetField::Notally: return simhost::Field::Notally;
    case SetField::Directend: return simhost::Field::Directend;
  }
  return simhost::Field::Usage;
}

simhost::Arrival arrivalOf(const Command& c) {
  simhost::Arrival a;
  a.channel = c.channel;
  a.userid = c.userid;
  a.usage = c.usage;
  a.status = c.status;
  a.notally = c.notally;
  a.directend = c.directend;
  a.badpassword = c.badpassword;
  return a;
}

// Where an `at` command takes the clock; `error` is set when a full date
// and time lies in the past.
simhost::Clock atTarget(const Command& c, std::string* error) {
  const simhost::Clock now = simhost::clock();
  if (c.hasDate) {
    simhost::Clock target = clockOf(c.date, c.time);
    if (target < now)
      *error = simhost::formatClock(target) + " lies in the past: the clock reads " +
               simhost::formatClock(now);
    return target;
  }
  simhost::CivilTime t = simhost::civilFromClock(now);
  simhost::Clock target = simhost::clockFromCivil(
      {t.year, t.month, t.day, c.time.hour, c.time.minute, c.time.second});
  if (target < now) target += 86400;  // that time tomorrow
  return target;
}

// One event command; answers "" or what prevented it.
std::string runEvent(const Command& c) {
  switch (c.verb) {
    case Verb::Logon: return simhost::logon(arrivalOf(c));
    case Verb::Connect: return simhost::connect(arrivalOf(c));
    case Verb::Occupy: return simhost::occupy(c.channel, c.status, c.userid);
    case Verb::Logoff: return simhost::logoff(c.channel);
    case Verb::Set: return simhost::setField(c.channel, hostField(c.field), c.value);
    case Verb::Wait:
    case Verb::At: {
      std::string error;
      simhost::Clock target =
          c.verb == Verb::Wait ? simhost::clock() + c.seconds : atTarget(c, &error);
      if (!error.empty()) return error;
      if (target > latestClock())
        return "the clock would pass " + simhost::formatClock(latestClock()) +
               ", the last moment a packed date holds";
      simhost::advanceTo(target);
      return "";
    }
    case Verb::Cleanup:
      simhost::cleanup();
      return "";
    case Verb::Delays:
      for (const simhost::StoredDelay& d : simhost::delays())
        simhost::trace("delay " + simhost::quote(d.userid) + " " + packedStamp(d.date, d.time));
      return "";
    case Verb::Shutdown:
      simhost::shutdown();
      return "";
    default:
      return "";  // setup commands and crash are handled by the caller
  }
}

}  // namespace

std::string packedStamp(std::uint16_t date, std::uint16_t time) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9),
                (date >> 5) & 0x0f, date & 0x1f, time >> 11, (time >> 5) & 0x3f,
                (time & 0x1f) * 2);
  return text;
}

simhost::Clock clockOf(const Date& d, const TimeOfDay& t) {
  return simhost::clockFromCivil({d.year, d.month, d.day, t.hour, t.minute, t.second});
}

bool expandKeys(std::vector<Command>* commands, const std::string& scenarioLabel,
                const OptionLookup& option, std::vector<std::string>* errors) {
  bool good = true;
  for (Command& c : *commands) {
    if (c.verb != Verb::Account) continue;
    for (std::string& key : c.keys) {
      const int n = optionReference(key);
      if (n == 0) continue;
      const std::string where = scenarioLabel + ":" + std::to_string(c.line) + ": key " +
                                simhost::quote(key) + ": ";
      OptionText found = option ? option(n) : OptionText{"", "no option file to read"};
      if (found.problem.empty() && found.text.empty())
        found.problem = "option " + std::to_string(n) + " is empty";
      if (found.problem.empty() && (found.text.find(',') != std::string::npos ||
                                    found.text.find('\0') != std::string::npos))
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

std::string moduleBesideExecutable() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "zorgaval.so";
  return (self.parent_path() / "zorgaval.so").string();
}

simhost::InitRoutine loadModule(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw simhost::Fatal(1, "cannot load the module " + path + ": no such file");
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw simhost::Fatal(1, "cannot load the module " + path + ": " +
                                (why ? why : "unknown reason"));
  }
  dlerror();
  void* init = dlsym(handle, "_init__zorgaval");
  if (init == nullptr)
    throw simhost::Fatal(1, "the module " + path + " has no _init__zorgaval routine");
  return reinterpret_cast<simhost::InitRoutine>(init);
}

int run(Scenario scenario, const RunConfig& config, std::vector<std::string>* errors) {
  // Taken, not copied: a board-day scenario is tens of thousands of commands.
  std::vector<Command> commands = std::move(scenario.commands);
  if (!expandKeys(&commands, config.scenarioLabel, config.option, errors))
    return 2;

  try {
    simhost::InitRoutine init = loadModule(config.modulePath);

    // The host is built from every setup command at once: they all come
    // before `start`, and the clock and channel count shape the fresh host.
    simhost::Setup setup;
    setup.dir = config.dir;
    setup.optionsPath = config.optionsPath;
    setup.clock = simhost::localClockNow();
    setup.trace = config.trace;
    for (const Command& c : commands) {
      if (c.verb == Verb::Clock) setup.clock = clockOf(c.date, c.time);
      if (c.verb == Verb::Channels) {
        setup.channels = c.count;
        setup.firstNumber = c.firstNumber;
      }
    }
    simhost::reset(setup);

    bool shutDown = false;
    for (const Command& c : commands) {
      switch (c.verb) {
        case Verb::Clock:
        case Verb::Channels:
          break;
        case Verb::Channel:
          simhost::setChannelNumber(c.channel, c.number);
          break;
        case Verb::Account:
          try {
            simhost::setAccount(c.userid, c.keys, c.nocount);
          } catch (const simhost::Fatal& f) {
            if (f.status != 2) throw;
            errors->push_back(at(config, c) + f.what());
            simhost::close();
            return 2;
          }
          break;
        case Verb::Start:
          try {
            simhost::start(init);
          } catch (const simhost::Fatal& f) {
            if (f.status != 2 || simhost::optionErrors().empty()) throw;
            for (const std::string& e : simhost::optionErrors()) errors->push_back(e);
            simhost::close();
            return 2;
          }
          break;
        case Verb::Crash:
          std::fflush(stdout);
          if (config.beforeCrash) config.beforeCrash();
          _exit(3);
        default: {
          std::string refused = runEvent(c);
          if (!refused.empty()) {
            errors->push_back(at(config, c) + refused);
            simhost::close();
            return 2;
          }
          if (c.verb == Verb::Shutdown) shutDown = true;
        }
      }
    }
    if (!shutDown) simhost::shutdown();
    simhost::close();
    return 0;
  } catch (const simhost::Fatal& f) {
    errors->push_back(f.what());
    simhost::close();
    return f.status;
  }
}

}  // namespace sim
