// Writes a whole board-day as a scenario: 256 channels over 24 hours, about
// 20,000 visits by 2,000 users, busiest in the evening. Deterministic: the
// same option file always gives the same scenario.
//
//   boardday OPTION-FILE OUT.scn
//
// The day is played once against the real module and host in this process,
// so that a visit the module ended (a bump or a refusal) is not logged off
// again: the scenario holds only what can be carried out, and a run of it
// repeats this day event for event.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <queue>
#include <string>
#include <vector>

#include "frame/init.h"
#include "simhost/options.h"
#include "simhost/simhost.h"

namespace {

constexpr int kChannels = 256;
constexpr int kUsers = 2000;
constexpr int kVisits = 20000;  // first calls; bumped and refused callers call again
const simhost::CivilTime kDawn{2026, 12, 8, 6, 0, 0};
constexpr simhost::Clock kDay = 24 * 3600;

// A small linear congruential generator: the same numbers on every machine.
struct Random {
  std::uint64_t state = 0x5A475631;
  std::uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 33);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

// Relative load through the day, by hour from 06:00: quiet mornings, a
// busy evening from 18:00 to 01:00.
const int kLoad[24] = {2,  3,  4,  5,  5,  5,  5,  6,  6, 7, 8, 9,
                       14, 16, 18, 18, 18, 16, 14, 10, 5, 3, 2, 2};

struct User {
  std::string id;
  std::string key;  // "$N" as the scenario writes it, or ""
};

struct Event {
  simhost::Clock at;
  int order;     // keeps events at the same second in the order made
  bool arrival;  // else a departure
  int user;
  int channel;  // departures: the channel of the visit
  int visit;    // departures: which visit is to end
  bool operator>(const Event& o) const { return at != o.at ? at > o.at : order > o.order; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: boardday OPTION-FILE OUT.scn\n");
    return 2;
  }
  const std::string options = std::filesystem::absolute(argv[1]).string();
  const simhost::ParsedOptions parsed = simhost::loadOptionFile(options);
  if (!parsed.errors.empty()) {
    std::fprintf(stderr, "%s\n", parsed.errors.front().c_str());
    return 2;
  }
  auto keyText = [&](int n) { return simhost::readTextOption(parsed, n).text; };

  Random random;
  std::vector<User> users(kUsers);
  for (int u = 0; u < kUsers; ++u) {
    char id[32];
    std::snprintf(id, sizeof id, "User%04d", u);
    users[u].id = id;
    const int roll = random.below(100);
    if (roll < 45)
      users[u].key = "$" + std::to_string(4 + random.below(10));
    else if (roll < 48)
      users[u].key = "$3";  // watchers
    else if (roll < 50)
      users[u].key = "$2";  // exempt
  }

  // The visits, their arrival times drawn from the day's load.
  int totalLoad = 0;
  for (int w : kLoad) totalLoad += w;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events;
  int order = 0;
  for (int v = 0; v < kVisits; ++v) {
    int pick = random.below(totalLoad), hour = 0;
    while (pick >= kLoad[hour]) pick -= kLoad[hour++];
    events.push({hour * 3600 + random.below(3600), order++, true, random.below(kUsers), 0, 0});
  }

  // Play the day in a scratch directory.
  const std::string dir = (std::filesystem::temp_directory_path() / "zorgaval-boardday").string();
  std::filesystem::remove_all(dir);
  std::vector<int> holder(kChannels, 0);  // visit on each channel, 0 = free
  std::vector<int> holderUser(kChannels, 0);
  bool loggingOff = false;
  simhost::Clock dawn = 0;
  simhost::Setup setup;
  setup.dir = dir;
  if (!options.empty()) setup.optionFile = {"zorgaval.mcv", options};
  setup.clock = simhost::clockFromCivil(kDawn);
  setup.channels = kChannels;
  setup.trace = [&](const std::string& line) {
    // "YYYY-MM-DD HH:MM:SS hangup CH ..." frees the channel.
    // One the generator did not ask for is a bump or a refusal, and that
    // caller tries again a while later.
    const std::size_t at = line.find(" hangup ");
    if (at == std::string::npos) return;
    const int ch = std::atoi(line.c_str() + at + 8);
    holder[ch] = 0;
    if (!loggingOff) {
      events.push({simhost::clock() - dawn + 300 + random.below(2400), order++, true,
                   holderUser[ch], 0, 0});
    }
  };
  std::ofstream(dir + "/ZORGAVAL.MDF") << "Name: Zor Gaval\n";
  simhost::reset(setup);

  std::ofstream out(argv[2]);
  out << "# A board-day: " << kChannels << " channels, " << kVisits << " visits by " << kUsers
      << " users, made by bench/boardday.\n";
  out << "clock 2026-12-08 06:00:00\nchannels " << kChannels << "\n";
  for (const User& u : users) {
    std::vector<std::string> keys;
    if (!u.key.empty()) keys.push_back(keyText(std::atoi(u.key.c_str() + 1)));
    simhost::setAccount(u.id, keys, false);
    out << "account " << u.id;
    if (!u.key.empty()) out << " keys " << u.key;
    out << "\n";
  }
  out << "start\n";
  simhost::start(_init__zorgaval);

  dawn = simhost::clock();
  int visits = 0, logons = 0, logoffs = 0, busy = 0;
  while (!events.empty()) {
    Event e = events.top();
    events.pop();
    if (e.at >= kDay) break;
    if (dawn + e.at > simhost::clock()) {
      out << "wait " << dawn + e.at - simhost::clock() << "\n";
      simhost::advanceTo(dawn + e.at);
    }
    if (!e.arrival) {
      if (holder[e.channel] != e.visit) continue;  // the module ended it
      loggingOff = true;
      simhost::logoff(e.channel);
      loggingOff = false;
      out << "logoff " << e.channel << "\n";
      ++logoffs;
      continue;
    }
    // Callers take the lowest free channel, as a hunt group hands them out,
    // so the watched range at the bottom fills first.
    int ch = 0;
    while (ch < kChannels && holder[ch] != 0) ++ch;
    if (ch == kChannels) {
      ++busy;
      continue;
    }
    const int usage = random.below(500) - 20;
    holder[ch] = ++visits;
    holderUser[ch] = e.user;
    simhost::logon({ch, users[e.user].id, usage});
    out << "logon " << ch << " " << users[e.user].id << " usage " << usage << "\n";
    ++logons;
    if (holder[ch] == visits) {
      events.push({e.at + 120 + random.below(1200), order++, false, e.user, ch, visits});
    }
  }
  const simhost::Clock end = dawn + kDay;
  out << "wait " << end - simhost::clock() << "\n";
  simhost::advanceTo(end);
  out << "delays\nshutdown\n";
  simhost::shutdown();
  simhost::close();
  std::filesystem::remove_all(dir);
  std::fprintf(stderr, "boardday: %d log-ons, %d log-offs, %d callers found no channel\n", logons,
               logoffs, busy);
  return 0;
}
