// The program around the run: the command line, the samples written only
// where missing, a module that cannot be loaded, `$N` keys, and the stamps
// of the `delay` lines.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hostprog/delays.h"
#include "hostprog/embedded.h"
#include "hostprog/module.h"
#include "sim/program.h"
#include "sim/run.h"
#include "sim/scenario.h"

namespace fs = std::filesystem;

namespace {

struct Line {
  std::vector<std::string> args;
  const char* expected;  // a picture of the result, or "error: ..."
};

std::string picture(const sim::CommandLine& c) {
  if (!c.error.empty()) return "error: " + c.error;
  std::string out = "dir[" + c.dir + "] options[" + c.options + "] module[" + c.module +
                    "] scenario[" + c.scenario + "]";
  if (c.check) out += " check[" + c.checkFile + "]";
  if (c.help) out += " help";
  if (c.version) out += " version";
  return out;
}

TEST(CommandLine, ReadsEveryForm) {
  const Line cases[] = {
      {{}, "dir[] options[] module[] scenario[]"},
      {{"-"}, "dir[] options[] module[] scenario[-]"},
      {{"--dir", "d", "--options", "o.mcv", "--module", "m.so", "s.scn"},
       "dir[d] options[o.mcv] module[m.so] scenario[s.scn]"},
      {{"--dir=d", "s.scn"}, "dir[d] options[] module[] scenario[s.scn]"},
      {{"--", "--odd.scn"}, "dir[] options[] module[] scenario[--odd.scn]"},
      {{"--check"}, "dir[] options[] module[] scenario[] check[]"},
      {{"--check", "x.mcv", "--dir", "d"}, "dir[d] options[] module[] scenario[] check[x.mcv]"},
      {{"--check", "--dir", "d"}, "dir[d] options[] module[] scenario[] check[]"},
      {{"--help"}, "dir[] options[] module[] scenario[] help"},
      {{"--version"}, "dir[] options[] module[] scenario[] version"},
      {{"--dir"}, "error: --dir needs a value"},
      {{"--dir="}, "error: --dir needs a value"},
      {{"--dir", "a", "--dir", "b"}, "error: --dir given twice"},
      {{"--speed", "3"}, "error: unknown option \"--speed\""},
      {{"-x"}, "error: unknown option \"-x\""},
      {{"a.scn", "b.scn"}, "error: more than one scenario: \"a.scn\" and \"b.scn\""},
      {{"--check", "x.mcv", "s.scn"},
       "error: --check takes an option file, not a scenario: \"s.scn\""},
      {{"--help=yes"}, "error: --help takes no value"},
  };
  for (const Line& l : cases) {
    std::string shown;
    for (const auto& a : l.args) shown += a + " ";
    EXPECT_EQ(picture(sim::parseCommandLine(l.args)), l.expected) << shown;
  }
}

// A scratch directory of the test's own, removed afterwards.
struct Scratch {
  fs::path dir;
  Scratch() {
    char name[] = "/tmp/sim-test.XXXXXX";
    dir = mkdtemp(name);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

std::string fileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int runProgram(std::vector<std::string> args, std::string* err) {
  args.insert(args.begin(), "zorgaval-sim");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStderr();
  int status = sim::program(static_cast<int>(args.size()), argv.data());
  *err = testing::internal::GetCapturedStderr();
  return status;
}

TEST(Program, MissingModuleIsStatusOneAndSamplesNeverOverwriteTheSysops) {
  Scratch s;
  const fs::path scn = s.dir / "one.scn";
  std::ofstream(scn) << "logon 0 x\n";
  const fs::path host = s.dir / "host";
  fs::create_directory(host);
  std::ofstream(host / "zorgaval.mcv") << "15 = 9  # the sysop's own\n";

  std::string err;
  int status = runProgram(
      {"--dir", host.string(), "--module", "/nonexistent/zorgaval.so", scn.string()}, &err);
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("cannot load the module /nonexistent/zorgaval.so: no such file"),
            std::string::npos)
      << err;
  EXPECT_EQ(fileText(host / "zorgaval.mcv"), "15 = 9  # the sysop's own\n");
  EXPECT_EQ(fileText(host / "ZORGAVAL.MDF"), std::string(embedded::zorgaval_mdf));
  EXPECT_NE(err.find("wrote ZORGAVAL.MDF (built-in sample)"), std::string::npos) << err;
  EXPECT_EQ(err.find("wrote zorgaval.mcv"), std::string::npos) << err;
  EXPECT_NE(err.find("directory " + host.string()), std::string::npos) << err;
  EXPECT_EQ(err.find("line by line"), std::string::npos) << err;  // only the demo's
}

TEST(Program, BadScenarioMakesNothing) {
  Scratch s;
  const fs::path scn = s.dir / "bad.scn";
  std::ofstream(scn) << "logon 0 x\nwait soon\n";
  const fs::path host = s.dir / "host";
  std::string err;
  EXPECT_EQ(runProgram({"--dir", host.string(), scn.string()}, &err), 2);
  EXPECT_EQ(err, scn.string() + ":2: wait \"soon\" is not a number of seconds\n");
  EXPECT_FALSE(fs::exists(host));
}

TEST(Program, UnreadableScenarioAndBadCommandLineAreStatusTwo) {
  std::string err;
  EXPECT_EQ(runProgram({"/nonexistent/evening.scn"}, &err), 2);
  EXPECT_NE(err.find("cannot read the scenario /nonexistent/evening.scn"), std::string::npos)
      << err;
  EXPECT_EQ(runProgram({"--bogus"}, &err), 2);
  EXPECT_NE(err.find("unknown option \"--bogus\""), std::string::npos) << err;
  EXPECT_NE(err.find("usage: zorgaval-sim"), std::string::npos) << err;
}

TEST(LoadModule, RefusesALibraryWithoutTheStartRoutine) {
  // The C++ runtime is a loadable library that certainly lacks the routine.
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::terminate), &info), 0);
  try {
    hostprog::loadModule(info.dli_fname);
    FAIL() << "loaded " << info.dli_fname;
  } catch (const simhost::Fatal& f) {
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(std::string(f.what()),
              "the module " + std::string(info.dli_fname) + " has no _init__zorgaval routine");
  }
  try {
    hostprog::loadModule("/etc/hostname");
    FAIL() << "loaded /etc/hostname";
  } catch (const simhost::Fatal& f) {
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(std::string(f.what()).rfind("cannot load the module /etc/hostname: ", 0), 0u)
        << f.what();
  }
}

TEST(ExpandKeys, FollowsTheOptionFileAndNamesTheLine) {
  sim::Scenario s = sim::readScenario("e.scn",
                                      "account a keys $4,PLAIN\n"
                                      "account b keys $5\n"
                                      "account c keys $6\n"
                                      "account d keys $7\n");
  ASSERT_TRUE(s.errors.empty());
  auto option = [](int n) -> sim::OptionText {
    switch (n) {
      case 4:
        return {"DEMO", ""};
      case 5:
        return {"", ""};
      case 6:
        return {"A,B", ""};
      default:
        return {"", "option " + std::to_string(n) + " is missing from x.mcv"};
    }
  };
  std::vector<std::string> errors;
  EXPECT_FALSE(sim::expandKeys(&s.commands, "e.scn", option, &errors));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "e.scn:2: key \"$5\": option 5 is empty");
  EXPECT_EQ(errors[1], "e.scn:3: key \"$6\": option 6, \"A,B\", cannot be a key name");
  EXPECT_EQ(errors[2], "e.scn:4: key \"$7\": option 7 is missing from x.mcv");
  EXPECT_EQ(std::get<sim::AccountArgs>(s.commands[0].args).keys,
            (std::vector<std::string>{"DEMO", "PLAIN"}));
}

TEST(PackedStamp, ShowsTheStoredFieldsEvenWhenImpossible) {
  // 2024-03-15 20:02:30: year 44, month 3, day 15; 20:02, 15 double-seconds.
  EXPECT_EQ(hostprog::packedStamp(44 << 9 | 3 << 5 | 15, 20 << 11 | 2 << 5 | 15),
            "2024-03-15 20:02:30");
  EXPECT_EQ(hostprog::packedStamp(0, 0), "1980-00-00 00:00:00");
  EXPECT_EQ(hostprog::packedStamp(0xffff, 0xffff), "2107-15-31 31:63:62");
}

}  // namespace
