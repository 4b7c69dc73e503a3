// Outputs that fail under the module: an event log or report that cannot be
// opened, and a delay file that refuses the bump's insert. Each failure is
// reported and the module carries on with the next event.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fixture.h"
#include "hostprog/delays.h"

namespace {

// Places a file cannot be opened or written at, even by root: made in the test's
// directory before start-up. The path is what options 28 and 29 are given.
struct Unopenable {
  const char* label;
  std::string path;  // relative to the host's directory
  void (*make)(const std::string& dir);
};

void nothing(const std::string&) {}
void plainFile(const std::string& dir) { std::ofstream(dir + "/plain") << "x\n"; }
void directory(const std::string& dir) { std::filesystem::create_directory(dir + "/out.txt"); }

const Unopenable places[] = {
    {"missing directory", "nowhere/out.txt", nothing},
    {"through a regular file", "plain/out.txt", plainFile},
    {"a directory", "out.txt", directory},
    // Opens, but refuses every write: the failure shows at the close.
    {"a full device", "/dev/full", nothing},
    // The audit detail carries the path as fileparts cuts it: 63 characters.
    {"long missing path", "missing-directory-with-a-long-name/and-a-longer-file-name-after-it.txt",
     nothing},
};

// A range of four channels, one kept free: three users fill it.
Boot smallRange() {
  Boot how;
  how.options[15] = "1";
  how.options[18] = "03";
  how.options[19] = "10";  // one warning before the bump
  how.accounts = {{"Cand", {"K0"}}, {"Fill1", {}}, {"Fill2", {}}, {"Watch", {"WATCHER"}}};
  return how;
}

class FaultTest : public ModuleTest {
 protected:
  // Fills the range and runs the clock to the bump (scan at 30 s, grace
  // 10). The watcher comes first: the channel served last is not told.
  void bump() {
    arrive(5, "Watch");
    arrive(0, "Cand");
    arrive(1, "Fill1");
    arrive(2, "Fill2");
    advance(40);
  }
};

std::string cut63(const std::string& path) { return path.substr(0, 63); }

TEST_F(FaultTest, EventLogThatCannotBeOpened) {
  for (const Unopenable& place : places) {
    SCOPED_TRACE(place.label);
    place.make(dir);
    Boot how = smallRange();
    how.options[28] = place.path;
    boot(how);
    const std::string audit = "audit \"Zor Gaval FILE OPEN ERROR\" \"Could not open " +
                              cut63(place.path) + " for output\"";
    EXPECT_EQ(count(audit), 1) << traceText();  // the start-up entry
    bump();
    // The warning and the bump each try again; the bump itself goes through.
    EXPECT_EQ(count(audit), 3) << traceText();
    EXPECT_EQ(count("deliver 0 \"warn 10\""), 1) << traceText();
    EXPECT_EQ(count("hangup 0 \"Cand\""), 1) << traceText();
    EXPECT_EQ(count("audit \"Gaval bumped a user\" \"User-ID: Cand\""), 1) << traceText();
    EXPECT_EQ(count("deliver 5 \"watch Cand\""), 1) << traceText();
    ASSERT_EQ(hostprog::delays().size(), 1u);
    simhost::close();
    std::filesystem::remove_all(dir + "/zorgaval.dat");
    std::filesystem::remove_all(dir + "/accounts.dat");
  }
}

TEST_F(FaultTest, ReportThatCannotBeOpened) {
  for (const Unopenable& place : places) {
    SCOPED_TRACE(place.label);
    place.make(dir);
    Boot how = smallRange();
    how.options[29] = place.path;
    boot(how);
    const std::string audit =
        "audit \"Zor Gaval Error\" \"Cannot open " + cut63(place.path) + " for output\"";
    simhost::cleanup();
    EXPECT_EQ(count(audit), 1) << traceText();
    // Later events are untouched, and the next clean-up tries again.
    bump();
    EXPECT_EQ(count("hangup 0 \"Cand\""), 1) << traceText();
    simhost::cleanup();
    EXPECT_EQ(count(audit), 2) << traceText();
    EXPECT_NE(readFile("events.log").find("Cand disconnected by Gaval"), std::string::npos);
    simhost::close();
    std::filesystem::remove_all(dir + "/zorgaval.dat");
    std::filesystem::remove_all(dir + "/accounts.dat");
  }
}

// The bump's record cannot be written, so it cannot be found again: the
// user is still disconnected and the watchers told, only messages 36 and
// 38 are skipped. With the fault gone the next bump is whole again.
TEST_F(FaultTest, DelayRecordThatCannotBeWritten) {
  boot(smallRange());
  simhost::faults().failDataWrite = true;
  bump();
  EXPECT_EQ(count("warning \"zorgaval.dat: cannot insert \\\"cand\\\": write refused"), 1)
      << traceText();
  EXPECT_EQ(count("hangup 0 \"Cand\""), 1) << traceText();
  EXPECT_EQ(count("deliver 0 \"warn 10\""), 1) << traceText();
  EXPECT_EQ(count("bumped until"), 0) << traceText();
  EXPECT_EQ(count(" now "), 0) << traceText();
  EXPECT_EQ(count("deliver 5 \"watch Cand\""), 1) << traceText();
  EXPECT_EQ(count("audit \"Gaval bumped a user\" \"User-ID: Cand\""), 1) << traceText();
  EXPECT_NE(readFile("events.log").find("Cand disconnected by Gaval"), std::string::npos);
  EXPECT_TRUE(hostprog::delays().empty());

  // Nothing barred him: he comes straight back.
  lines.clear();
  simhost::faults().failDataWrite = false;
  arrive(0, "Cand");
  EXPECT_EQ(count("logon 0 \"Cand\" accepted"), 1) << traceText();
  advance(90);
  EXPECT_EQ(count("deliver 0 \"bumped until"), 1) << traceText();
  EXPECT_EQ(hostprog::delays().size(), 1u);
}

}  // namespace
