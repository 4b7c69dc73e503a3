// Start-up: the registration, the audit entries, the options read into the
// Module state, the configuration check and the event log's start entry.
#include <gtest/gtest.h>

#include "fixture.h"
#include "frame/state.h"

namespace {

TEST_F(ModuleTest, StartUpRegistersAndReadsOptions) {
  Boot how;
  how.options = {{17, "10"},           {18, "1F"},   {15, "3"},   {24, "\"22:00:00\""},
                 {25, "\"06:00:00\""}, {23, "7200"}, {20, "YES"}, {32, "NO"}};
  boot(how);
  EXPECT_EQ(count("register 0 \"Zor Gaval\""), 1) << traceText();
  EXPECT_EQ(count("audit \"Zor Gaval 1.0W\""), 1) << traceText();
  EXPECT_EQ(count("Config Error"), 0);
  const ModuleState& s = moduleState;
  EXPECT_EQ(s.firstChannel, 0x10u);  // hexadecimal, not decimal 10
  EXPECT_EQ(s.lastChannel, 0x1Fu);
  EXPECT_EQ(s.busyThreshold, 13);
  EXPECT_EQ(s.enabled, 1);
  EXPECT_EQ(s.delayLength, 7200);
  EXPECT_EQ(showTime(s.windowStart), "22:00:00");
  EXPECT_EQ(showTime(s.windowEnd), "06:00:00");
  EXPECT_TRUE(s.bellOnWarn);
  EXPECT_FALSE(s.reportBumps);
  EXPECT_STREQ(s.bumpKeys[0], "K0");
  EXPECT_STREQ(s.bumpKeys[9], "K9");
  EXPECT_EQ(s.candidateClass, 10);
  EXPECT_EQ(s.candidateUsage, -1);
  EXPECT_EQ(simhost::registered()->shutdown != nullptr, true);
  EXPECT_EQ(simhost::registered()->inject, nullptr);
  EXPECT_EQ(simhost::pendingTimers(), 1u);  // the first scan
}

TEST_F(ModuleTest, ConfigurationCheck) {
  struct {
    const char *first, *last, *reserve;
    unsigned wantFirst, wantLast;
    int threshold;
  } const cases[] = {
      {"00", "03", "4", 0, 3, 0},   // no channel left to fill
      {"10", "08", "0", 8, 16, 9},  // exchanged: nine channels
      {"00", "03", "3", 0, 3, 1},  {"05", "05", "0", 5, 5, 1}, {"00", "03", "255", 0, 3, -251},
  };
  for (const auto& c : cases) {
    Boot how;
    how.options = {{17, c.first}, {18, c.last}, {15, c.reserve}};
    boot(how);
    const std::string label = std::string(c.first) + "-" + c.last + " reserve " + c.reserve;
    EXPECT_EQ(moduleState.firstChannel, c.wantFirst) << label;
    EXPECT_EQ(moduleState.lastChannel, c.wantLast) << label;
    EXPECT_EQ(moduleState.busyThreshold, c.threshold) << label;
    const bool refused = c.threshold < 1;
    EXPECT_EQ(moduleState.enabled, refused ? 0 : 1) << label;
    EXPECT_EQ(count("audit \"Zor Gaval Config Error\" "
                    "\"Your settings will not allow DEMOs to be bumped\""),
              refused ? 1 : 0)
        << label;
    EXPECT_EQ(simhost::pendingTimers(), refused ? 0u : 1u) << label;  // the scan
  }
}

// Threshold 1: a single occupied channel of the range makes it busy.
TEST_F(ModuleTest, OneOccupiedChannelIsBusyWithReserveThree) {
  Boot how;
  how.options = {{17, "00"}, {18, "03"}, {15, "3"}};
  how.accounts = {{"Demo", {"K0"}}};
  boot(how);
  arrive(2, "Demo");
  advance(30);
  EXPECT_EQ(count("deliver 2 \"warn 60\""), 1) << traceText();
}

// A sysop meets the option errors in the order start-up reads the options.
TEST_F(ModuleTest, OptionErrorsInReadingOrder) {
  Boot how;
  for (int n : {15, 16, 17, 18, 19, 23}) how.options[n] = "x";
  for (int n : {20, 21, 22, 26, 27, 30, 31, 32, 33}) how.options[n] = "maybe";
  how.missing = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 24, 25, 28, 29};
  const std::string refused = bootRefused(how);
  std::vector<int> order;
  const std::string word = "option ";
  for (auto at = refused.find(word); at != std::string::npos; at = refused.find(word, at + 1)) {
    const auto digits = refused.find_first_not_of("0123456789", at + word.size());
    if (digits > at + word.size()) order.push_back(std::stoi(refused.substr(at + word.size())));
  }
  const std::vector<int> expected = {2, 3, 15, 16, 17, 18, 19, 20, 21, 22, 26, 24, 25, 23, 4, 5,
                                     6, 7, 8,  9,  10, 11, 12, 13, 27, 28, 30, 31, 32, 33, 29};
  EXPECT_EQ(order, expected) << refused;
  lines.clear();  // the empty window texts draw the host's warnings
}

TEST_F(ModuleTest, StartEntryOfTheEventLog) {
  Boot how;
  how.at = {2023, 12, 31, 19, 0, 0};
  how.options = {{24, "\"22:00:00\""}, {25, "\"06:00:00\""}, {15, "40"}};
  boot(how);
  ASSERT_EQ(moduleState.enabled, 0);  // written before the check all the same
  const std::string entry =
      "\nStart of Zor Gaval log file - Date: 12/31/23 Time: 19:00:00.\n"
      "Zor Gaval goes active - Date: 12/31/23 Time: 22:00:00.\n"
      "Zor Gaval goes inactive - Date: 01/01/24 Time: 06:00:00.\n";
  EXPECT_EQ(readFile("events.log"), entry);

  how.options = {{24, "\"08:00:00\""}, {25, "\"20:00:00\""}};
  boot(how);  // a second start-up, same day: a blank line between the two
  EXPECT_EQ(readFile("events.log"),
            entry +
                "\nStart of Zor Gaval log file - Date: 12/31/23 Time: 19:00:00.\n"
                "Zor Gaval goes active - Date: 12/31/23 Time: 08:00:00.\n"
                "Zor Gaval goes inactive - Date: 12/31/23 Time: 20:00:00.\n");
}

TEST_F(ModuleTest, EventLogThatCannotBeOpened) {
  Boot how;
  how.options = {{28, "zorgaval.mcv/events.log"}};  // a path through a file
  boot(how);
  EXPECT_EQ(count("audit \"Zor Gaval FILE OPEN ERROR\" "
                  "\"Could not open zorgaval.mcv/events.log for output\""),
            1)
      << traceText();
  how.options = {{27, "NO"}, {28, "zorgaval.mcv/events.log"}};
  boot(how);
  EXPECT_EQ(count("FILE OPEN ERROR"), 0) << traceText();
}

}  // namespace
