// Warning, bump and log-on delay through the substitute host: the two
// cases where the module deliberately does nothing, the hang-up routes,
// and a refused log-on from start to end.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "fixture.h"
#include "frame/state.h"
#include "guard/bump.h"
#include "guard/logon_delay.h"
#include "guard/scan.h"
#include "hostprog/delays.h"
#include "store/delay_file.h"

namespace {

void setCandidate(const char* userid) {
  std::memset(moduleState.candidateId, 0, sizeof moduleState.candidateId);
  std::strcpy(moduleState.candidateId, userid);
  moduleState.candidateClass = 0;
  moduleState.candidateUsage = 0;
}

// No candidate, or one who is no longer signed on: no message reaches any
// channel, and no audit entry, log line, count or timer is made.
TEST_F(ModuleTest, WarningWithoutACandidateDoesNothing) {
  Boot how;
  how.accounts = {{"Gone", {"K0"}}, {"Here", {"K0"}}};
  boot(how);
  arrive(3, "Here");
  ASSERT_EQ(simhost::setField(3, simhost::Field::Status, 3), "");  // on, not signed on
  const std::string log = readFile("events.log");
  const size_t timers = simhost::pendingTimers();
  for (const char* userid : {"", "Gone", "Here"}) {
    setCandidate(userid);
    lines.clear();
    warnCandidate();
    EXPECT_EQ(traceText(), "") << "candidate \"" << userid << "\"";
    EXPECT_EQ(simhost::pendingTimers(), timers) << userid;
    EXPECT_EQ(readFile("events.log"), log) << userid;
    EXPECT_EQ(moduleState.counters[KIND_WARNINGS - 1][0][3], 0u) << userid;
  }
}

// A leaving user is recorded only when he is the candidate; with no
// candidate, not even a user with an empty id is recorded.
TEST_F(ModuleTest, LeavingUsersAndTheCandidate) {
  Boot how;
  how.accounts = {{"Cand", {"K0"}}, {"Other", {"K0"}}};
  boot(how);
  ASSERT_EQ(simhost::occupy(4, 1, ""), "");
  ASSERT_EQ(simhost::logoff(4), "");
  arrive(1, "Other");
  ASSERT_EQ(simhost::logoff(1), "");
  EXPECT_TRUE(hostprog::delays().empty());

  arrive(2, "Cand");
  setCandidate("CAND");
  arrive(1, "Other");
  ASSERT_EQ(simhost::logoff(1), "");
  EXPECT_TRUE(hostprog::delays().empty());
  ASSERT_EQ(simhost::logoff(2), "");
  ASSERT_EQ(hostprog::delays().size(), 1u);
  EXPECT_EQ(hostprog::delays()[0].userid, "CAND");  // the candidate's id as kept
  EXPECT_EQ(moduleState.candidateId[0], '\0');
}

// The host runs the disconnect hook before slot 6, so each is called here
// on its own for a no-tally visit.
TEST_F(ModuleTest, NoTallyHangUp) {
  Boot how;
  how.accounts = {{"Cand", {"K0"}}};
  boot(how);
  simhost::Arrival a;
  a.channel = 2;
  a.userid = "Cand";
  a.notally = true;
  ASSERT_EQ(simhost::logon(a), "");
  setCandidate("Cand");
  onHangup();
  EXPECT_TRUE(hostprog::delays().empty());
  EXPECT_STREQ(moduleState.candidateId, "Cand");
  onDisconnect();
  EXPECT_EQ(hostprog::delays().size(), 1u);
  EXPECT_EQ(moduleState.candidateId[0], '\0');
  ASSERT_EQ(simhost::setField(2, simhost::Field::Notally, 0), "");
  setCandidate("Cand");
  onHangup();
  EXPECT_EQ(moduleState.candidateId[0], '\0');
}

TEST_F(ModuleTest, DelayWindow) {
  boot();
  struct {
    const char *start, *end, *time;
    bool inside;
  } const cases[] = {
      {"22:00:00", "06:00:00", "23:00:00", true},  {"22:00:00", "06:00:00", "05:00:00", true},
      {"22:00:00", "06:00:00", "12:00:00", false}, {"22:00:00", "06:00:00", "22:00:00", true},
      {"22:00:00", "06:00:00", "06:00:02", false}, {"08:00:00", "20:00:00", "20:00:00", true},
      {"08:00:00", "20:00:00", "20:00:02", false}, {"08:00:00", "20:00:00", "07:59:58", false},
  };
  for (const auto& c : cases) {
    moduleState.windowStart = dctime(c.start);
    moduleState.windowEnd = dctime(c.end);
    EXPECT_EQ(inDelayWindow(dctime(c.time)) != 0, c.inside)
        << c.time << " in " << c.start << "-" << c.end;
  }
}

// Bumped at 19:00 with an hour's delay, window 08:00-20:00: refused at
// 19:30 by both routes (the connect route still counts the log-on), let in
// at 20:00:02 when the record is found over and deleted.
TEST_F(ModuleTest, RefusedThenLetIn) {
  Boot how;
  how.options = {{23, "3600"}, {24, "\"08:00:00\""}, {25, "\"20:00:00\""}};
  how.accounts = {{"Demo", {"K4"}}};
  boot(how);
  setCandidate("Demo");
  writeDelayRecord();
  clearCandidate();
  advanceTo({2024, 3, 5, 19, 30, 0});
  lines.clear();
  arrive(1, "Demo");
  EXPECT_EQ(traceText(),
            "2024-03-05 19:30:00 audit \"Gaval delayed Log-on\" \"User-ID: Demo\"\n"
            "2024-03-05 19:30:00 deliver 1 \"delayed until 03/05/24 20:00:00; now 03/05/24 "
            "19:30:00\"\n"
            "2024-03-05 19:30:00 logon 1 \"Demo\" rejected\n"
            "2024-03-05 19:30:00 hangup 1 \"Demo\"\n");
  simhost::Arrival a;
  a.channel = 2;
  a.userid = "Demo";
  a.directend = true;
  ASSERT_EQ(simhost::connect(a), "");
  EXPECT_EQ(count("deliver 2 \"delayed until 03/05/24 20:00:00; now 03/05/24 19:30:00\""), 1)
      << traceText();
  EXPECT_EQ(count("hangup 2 \"Demo\""), 1) << traceText();
  const auto& counters = moduleState.counters;
  EXPECT_EQ(counters[KIND_DELAYS - 1][4][3], 2u);
  EXPECT_EQ(counters[KIND_LOGONS - 1][4][3], 1u);  // the connect route only
  EXPECT_NE(readFile("events.log")
                .find("Demo log-on attempt delayed by Gaval - Date: 03/05/24 Time: 19:30:00.\n"),
            std::string::npos);
  ASSERT_EQ(hostprog::delays().size(), 1u);

  advanceTo({2024, 3, 5, 20, 0, 2});
  lines.clear();
  arrive(1, "Demo");
  EXPECT_EQ(traceText(), "2024-03-05 20:00:02 logon 1 \"Demo\" accepted\n");
  EXPECT_TRUE(hostprog::delays().empty());
}

}  // namespace

namespace {

// When the record just written cannot be found again (here the data file
// refuses the insert), the bump still disconnects and reports; only the
// notice of the delay's end is lost.
TEST_F(ModuleTest, BumpWithoutItsRecord) {
  Boot how;
  how.options = {{18, "01"}, {15, "1"}};
  how.accounts = {{"Demo", {"K0"}}, {"Val", {"WATCHER"}}};
  boot(how);
  arrive(5, "Val");
  arrive(0, "Demo");  // the current user when the timer fires: Val is told
  simhost::faults().failDataWrite = true;
  advance(90);
  EXPECT_EQ(count("deliver 0 \"warn 60\""), 2) << traceText();  // at 30 and 60 s
  EXPECT_EQ(count("deliver 0 \"bumped until"), 0) << traceText();
  EXPECT_EQ(count("deliver 5 \"watch Demo\""), 1) << traceText();
  EXPECT_EQ(count("audit \"Gaval bumped a user\" \"User-ID: Demo\""), 1) << traceText();
  EXPECT_EQ(count("hangup 0 \"Demo\""), 1) << traceText();
  EXPECT_EQ(moduleState.counters[KIND_BUMPS - 1][0][3], 1u);
  EXPECT_TRUE(hostprog::delays().empty());
  lines.clear();  // the host's warnings about the refused insert are expected
}

}  // namespace

namespace {

// Every routine that selects the module's message file or a data file puts
// back whatever was current before: the host's own selections (here another
// message file and the account file) are still current after a warning, a
// bump, refusals by both routes, a record found over, a log-on without a
// record, a leaving candidate and the report.
TEST_F(ModuleTest, RoutinesPutTheCurrentFilesBack) {
  Boot how;
  how.options = {{18, "01"}, {15, "1"}, {23, "3600"}};
  how.accounts = {{"Demo", {"K0"}}, {"Val", {"WATCHER"}}};
  boot(how);
  {
    std::ofstream other(dir + "/other.mcv");
    other << "2 = OTHER\n";
  }
  opnmsg("other.mcv");  // now current; it holds none of the module's messages
  dfaSetBlk(accbb);

  arrive(5, "Val");
  arrive(0, "Demo");
  advance(90);        // warned at 30 and 60 s, bumped at 90 s
  arrive(0, "Demo");  // refused, the visit ended by the module
  simhost::Arrival direct;
  direct.userid = "Demo";
  direct.directend = true;
  ASSERT_EQ(simhost::connect(direct), "");  // refused, ended by the module itself
  advanceTo({2024, 3, 5, 20, 2, 0});
  arrive(0, "Demo");                  // the record is over and deleted
  arrive(1, "Other");                 // no record at all
  advance(30);                        // warned once more
  ASSERT_EQ(simhost::logoff(0), "");  // leaves while warned: a new record
  simhost::cleanup();

  EXPECT_EQ(count("deliver 0 \"warn 60\""), 3) << traceText();
  EXPECT_EQ(count("deliver 0 \"bumped until"), 1) << traceText();
  EXPECT_EQ(count("deliver 5 \"watch Demo\""), 1) << traceText();
  EXPECT_EQ(count("deliver 0 \"delayed until"), 2) << traceText();
  EXPECT_EQ(count("logon 0 \"Demo\" accepted"), 2) << traceText();
  ASSERT_EQ(hostprog::delays().size(), 1u);
  EXPECT_NE(readFile("report.txt"), "");

  EXPECT_STREQ(stgopt(2), "OTHER");
  AccountRecord account;
  EXPECT_TRUE(dfaAcqLock(&account, "Val", 0, 5, 0));  // in the account file only
  dfaRstBlk();
  rstmbk();
}

// With a range that leaves nothing to fill the module is not enabled: log-ons
// are still counted, a stored delay refuses nobody (and is not judged), and a
// scan, should one run, neither acts nor arms the next.
TEST_F(ModuleTest, DisabledModuleOnlyCounts) {
  Boot how;
  how.options = {{15, "40"}};
  how.accounts = {{"Demo", {"K2"}}};
  boot(how);
  ASSERT_EQ(moduleState.enabled, 0);
  ASSERT_EQ(simhost::pendingTimers(), 0u);
  setCandidate("Demo");
  writeDelayRecord();  // in force for half an hour, inside the window
  arrive(0, "Demo");
  ASSERT_EQ(simhost::connect({1, "Demo"}), "");
  EXPECT_EQ(count("logon 0 \"Demo\" accepted"), 1) << traceText();
  EXPECT_EQ(count("delayed"), 0) << traceText();
  EXPECT_EQ(moduleState.counters[KIND_LOGONS - 1][2][3], 2u);
  EXPECT_EQ(hostprog::delays().size(), 1u);

  lines.clear();
  scanChannels();
  EXPECT_EQ(traceText(), "");
  EXPECT_EQ(simhost::pendingTimers(), 0u);
}

}  // namespace
