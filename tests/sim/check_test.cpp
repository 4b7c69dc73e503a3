// `--check`: an option file tried as the module reads it. The errors and
// warnings reach the report with the sysop's own file name, the status
// tells them apart, and the file itself is never touched.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "hostprog/embedded.h"

namespace fs = std::filesystem;

namespace {

// The program as the build lays it out, one level above the test programs,
// with the module beside it. It runs as its own process: the module binds
// to the host services the program exports.
fs::path builtProgram() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "zorgaval-sim";
}

std::string replaceEntry(std::string text, const std::string& start, const std::string& line) {
  std::size_t at = text.find("\n" + start);
  if (at == std::string::npos) return text + line + "\n";
  std::size_t end = text.find('\n', at + 1);
  return text.replace(at + 1, end - at - 1, line);
}

struct Checked {
  int status;
  std::string out;
};

Checked check(const std::string& text, const std::string& name) {
  char dir[] = "/tmp/check-test.XXXXXX";
  fs::path scratch = mkdtemp(dir);
  fs::path file = scratch / name;
  std::ofstream(file, std::ios::binary) << text;
  // Run from the scratch directory so the file is named as a sysop would.
  const std::string command = "cd '" + scratch.string() + "' && '" + builtProgram().string() +
                              "' --check '" + name + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Checked c{-1, ""};
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) c.out.append(buffer, n);
  int wait = pclose(pipe);
  c.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  std::ifstream in(file, std::ios::binary);
  std::stringstream after;
  after << in.rdbuf();
  EXPECT_EQ(after.str(), text) << "the checked file was changed";
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch), fs::directory_iterator{}), 1)
      << "the check left files beside the option file";
  fs::remove_all(scratch);
  return c;
}

TEST(Check, SampleIsCleanAndEveryFaultIsReported) {
  // A missing program fails here rather than passing unseen as a skip.
  ASSERT_TRUE(fs::exists(builtProgram()) &&
              fs::exists(builtProgram().parent_path() / "zorgaval.so"))
      << "no program and module at " << builtProgram();
  const std::string sample(embedded::zorgaval_mcv);

  Checked good = check(sample, "sample.mcv");
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_NE(good.out.find("trial run: Check-Bumped was warned, bumped and refused a log-on; "
                          "the watcher was told"),
            std::string::npos)
      << good.out;
  EXPECT_NE(good.out.find("sample.mcv: no errors, no warnings"), std::string::npos) << good.out;

  std::string bad = replaceEntry(sample, "16 =", "16 = fast");
  bad = replaceEntry(bad, "19 =", "19 = 5");
  bad = replaceEntry(bad, "35 =", "35 = \"%s seconds\"");
  // An absolute event log must not be written by the check.
  bad = replaceEntry(bad, "28 =", "28 = /tmp/check-test-must-not-exist.log");
  Checked faulty = check(bad, "my.mcv");
  EXPECT_EQ(faulty.status, 2) << faulty.out;
  EXPECT_NE(faulty.out.find("my.mcv:"), std::string::npos) << faulty.out;
  EXPECT_NE(faulty.out.find(": option 16: \"fast\" is not a decimal number"), std::string::npos)
      << faulty.out;
  EXPECT_NE(faulty.out.find("option 19: 5 is below 10; 10 used"), std::string::npos) << faulty.out;
  EXPECT_NE(faulty.out.find("message 35: %s given an integer"), std::string::npos) << faulty.out;
  EXPECT_EQ(faulty.out.find("zorgaval.mcv"), std::string::npos) << faulty.out;
  EXPECT_FALSE(fs::exists("/tmp/check-test-must-not-exist.log"));

  // A range that leaves nothing to fill is explained in numbers, and the
  // messages are judged all the same.
  Checked config = check(
      replaceEntry(replaceEntry(sample, "15 =", "15 = 32"), "35 =", "35 = \"%s s\""), "range.mcv");
  EXPECT_EQ(config.status, 2) << config.out;
  EXPECT_NE(config.out.find("audit \"Zor Gaval Config Error\""), std::string::npos) << config.out;
  EXPECT_NE(config.out.find("range.mcv: the watched range runs from channel 00 to 1F, "
                            "32 channels, and option 15 keeps 32 free"),
            std::string::npos)
      << config.out;
  EXPECT_NE(config.out.find("trial run: skipped: the range leaves no channel to fill"),
            std::string::npos)
      << config.out;
  EXPECT_NE(config.out.find("range.mcv: message 35: %s given an integer"), std::string::npos)
      << config.out;
}

}  // namespace
