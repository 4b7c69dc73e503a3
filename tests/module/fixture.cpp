// The module tests' host: each test gets a new directory and a new host,
// and starts the module with an option file of known contents.
#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/init.h"

PackedDate packDate(int year, int month, int day) {
  return static_cast<PackedDate>(((year - 1980) << 9) | (month << 5) | day);
}

PackedTime packTime(int hour, int minute, int second) {
  return static_cast<PackedTime>((hour << 11) | (minute << 5) | (second / 2));
}

std::string showDate(PackedDate d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", 1980 + (d >> 9), (d >> 5) & 15, d & 31);
  return text;
}

std::string showTime(PackedTime t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t >> 11, (t >> 5) & 63, (t & 31) * 2);
  return text;
}

// Every option the module reads, with values the tests rely on unless they
// override them: range 00-1F reserve 2, keys K0..K9, a window all day long.
static const std::map<int, std::string> defaults = {{2, "EXEMPT"},
                                                    {3, "WATCHER"},
                                                    {4, "K0"},
                                                    {5, "K1"},
                                                    {6, "K2"},
                                                    {7, "K3"},
                                                    {8, "K4"},
                                                    {9, "K5"},
                                                    {10, "K6"},
                                                    {11, "K7"},
                                                    {12, "K8"},
                                                    {13, "K9"},
                                                    {15, "2"},
                                                    {16, "30"},
                                                    {17, "00"},
                                                    {18, "1F"},
                                                    {19, "60"},
                                                    {20, "NO"},
                                                    {21, "YES"},
                                                    {22, "YES"},
                                                    {23, "1800"},
                                                    {24, "\"00:00:00\""},
                                                    {25, "\"23:59:58\""},
                                                    {26, "YES"},
                                                    {27, "YES"},
                                                    {28, "events.log"},
                                                    {29, "report.txt"},
                                                    {30, "YES"},
                                                    {31, "YES"},
                                                    {32, "YES"},
                                                    {33, "YES"},
                                                    {35, "\"warn %d\""},
                                                    {36, "\"bumped until %s %s;\""},
                                                    {37, "\"delayed until %s %s;\""},
                                                    {38, "\" now %s %s\""},
                                                    {39, "\"watch %s\""}};

void ModuleTest::SetUp() {
  char pattern[] = "/tmp/zorgaval-module-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir = pattern;
}

// The host warns about what a module did wrong (a message given the wrong
// arguments, output left undelivered); no test expects any of that.
void ModuleTest::TearDown() {
  EXPECT_EQ(count(" warning \""), 0) << traceText();
  simhost::close();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void ModuleTest::boot(const Boot& how) {
  const std::string refused = bootRefused(how);
  if (!refused.empty()) FAIL() << "start-up: " << refused;
}

std::string ModuleTest::bootRefused(const Boot& how) {
  std::map<int, std::string> options = defaults;
  for (const auto& [number, value] : how.options) options[number] = value;
  for (int number : how.missing) options.erase(number);
  {
    std::ofstream out(dir + "/zorgaval.mcv");
    for (const auto& [number, value] : options) out << number << " = " << value << "\n";
    std::ofstream mdf(dir + "/ZORGAVAL.MDF");
    mdf << "Name: Zor Gaval\n";
  }
  simhost::Setup setup;
  setup.dir = dir;
  setup.clock = simhost::clockFromCivil(how.at);
  setup.channels = how.channels;
  setup.firstNumber = how.firstNumber;
  setup.trace = [this](const std::string& line) { lines.push_back(line); };
  lines.clear();
  simhost::reset(setup);
  for (const TestAccount& a : how.accounts) simhost::setAccount(a.userid, a.keys, a.nocount);
  try {
    simhost::start(_init__zorgaval);
  } catch (const simhost::Fatal& fatal) {
    return fatal.what();
  }
  return "";
}

void ModuleTest::advance(simhost::Clock seconds) { simhost::advanceTo(simhost::clock() + seconds); }

void ModuleTest::advanceTo(const simhost::CivilTime& when) {
  simhost::advanceTo(simhost::clockFromCivil(when));
}

void ModuleTest::arrive(int ch, const std::string& userid, std::int32_t usage) {
  simhost::Arrival a;
  a.channel = ch;
  a.userid = userid;
  a.usage = usage;
  ASSERT_EQ(simhost::logon(a), "") << userid;
}

int ModuleTest::count(const std::string& fragment) const {
  int n = 0;
  for (const std::string& line : lines)
    if (line.find(fragment) != std::string::npos) ++n;
  return n;
}

std::string ModuleTest::traceText() const {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

std::string ModuleTest::readFile(const std::string& name) const {
  std::ifstream in(dir + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
