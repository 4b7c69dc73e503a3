// The daily report: its exact layout, the tables chosen, and the cases in
// which nothing is written.
#include <gtest/gtest.h>

#include "fixture.h"
#include "frame/state.h"

namespace {

const char rule[] =
    "--------------------------------------------------------------------------------\n";
const char columns[] =
    "             06-12 13-15 16-18 19    20    21    22    23    24    01    02-05\n";

TEST_F(ModuleTest, ReportLayoutOnFirstOfMarch) {
  Boot how;
  how.at = {2023, 2, 28, 23, 0, 0};
  how.options = {{30, "NO"}, {31, "NO"}, {33, "NO"}, {5, "FIFTEENCHARSXYZ"}};
  boot(how);
  moduleState.counters[KIND_BUMPS - 1][0][0] = 123456;
  moduleState.counters[KIND_BUMPS - 1][1][10] = 7;
  moduleState.counters[KIND_LOGONS - 1][0][0] = 99;  // its table is not chosen
  advanceTo({2023, 3, 1, 0, 0, 0});                  // the midnight clean-up
  std::string expected =
      std::string(rule) + "02/28/23-03/01/23 Zor Gaval Activity Report: BUMPS\n" + columns;
  expected +=
      "K0           123456"
      "0     0     0     0     0     0     0     0     0     0     \n";
  expected += "FIFTEENCHARS 0     0     0     0     0     0     0     0     0     0     7     \n";
  for (int k = 2; k <= 9; ++k)
    expected += "K" + std::to_string(k) +
                "           0     0     0     0     0     0     0     0     0     0     0     \n";
  EXPECT_EQ(readFile("report.txt"), expected);
}

// All four tables in their order; a second night repeats the same counts,
// since nothing resets them.
TEST_F(ModuleTest, ReportTablesAndNights) {
  Boot how;
  how.at = {2024, 3, 5, 23, 0, 0};
  boot(how);
  moduleState.counters[KIND_DELAYS - 1][9][3] = 4;
  advanceTo({2024, 3, 6, 0, 0, 0});
  const std::string once = readFile("report.txt");
  size_t at = 0;
  for (const char* kind : {"LOGONS", "WARNINGS", "BUMPS", "DELAYS"}) {
    at = once.find(std::string("03/05/24-03/06/24 Zor Gaval Activity Report: ") + kind + "\n", at);
    EXPECT_NE(at, std::string::npos) << kind;
  }
  EXPECT_NE(once.find("K9           0     0     0     4     0"), std::string::npos);
  simhost::cleanup();
  EXPECT_EQ(readFile("report.txt"), once + once);
}

TEST_F(ModuleTest, NoReport) {
  struct {
    const char* what;
    std::map<int, std::string> options;
    const char* audit;
  } const cases[] = {
      {"module not enabled", {{15, "40"}}, nullptr},
      {"no table chosen", {{30, "NO"}, {31, "NO"}, {32, "NO"}, {33, "NO"}}, nullptr},
      {"path through a file",
       {{29, "zorgaval.mcv/report.txt"}},
       "audit \"Zor Gaval Error\" \"Cannot open zorgaval.mcv/report.txt for output\""},
  };
  for (const auto& c : cases) {
    Boot how;
    how.options = c.options;
    boot(how);
    simhost::cleanup();
    EXPECT_EQ(readFile("report.txt"), "") << c.what;
    if (c.audit) {
      EXPECT_EQ(count(c.audit), 1) << c.what << "\n" << traceText();
    }
  }
}

}  // namespace
