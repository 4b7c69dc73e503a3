// Activity counters: the time buckets, the Key class, and which log-ons
// are counted.
#include <gtest/gtest.h>

#include <cstring>

#include "fixture.h"
#include "frame/state.h"
#include "records/counters.h"

namespace {

TEST_F(ModuleTest, TimeBucketEdges) {
  Boot how;
  how.at = {2024, 3, 5, 5, 59, 58};
  boot(how);
  struct {
    int day, hour, minute, second, bucket;
  } const cases[] = {
      {5, 5, 59, 58, 10}, {5, 6, 0, 0, 0},    {5, 12, 59, 58, 0}, {5, 12, 59, 59, 0},
      {5, 13, 0, 0, 1},   {5, 18, 59, 58, 2}, {5, 19, 0, 0, 3},   {5, 22, 30, 0, 6},
      {5, 23, 59, 58, 7}, {6, 0, 0, 0, 8},    {6, 0, 59, 59, 8},  {6, 1, 0, 0, 9},
      {6, 1, 59, 58, 9},  {6, 2, 0, 0, 10},   {6, 5, 59, 58, 10},
  };
  for (const auto& c : cases) {
    advanceTo({2024, 3, c.day, c.hour, c.minute, c.second});
    EXPECT_EQ(timeBucketNow(), c.bucket)
        << "day " << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
  }
}

TEST_F(ModuleTest, KeyClass) {
  Boot how;
  how.accounts = {{"TwoSeven", {"K7", "K2"}},
                  {"Last", {"K9"}},
                  {"First", {"k0"}},
                  {"Plain", {"WATCHER"}},
                  {"Quiet", {"K0"}, true}};
  boot(how);
  struct {
    const char* userid;
    int keyClass;
  } const cases[] = {{"TwoSeven", 2}, {"Last", 9},   {"FIRST", 0},
                     {"Plain", -1},   {"Quiet", -1}, {"Stranger", -1}};
  for (const auto& c : cases) EXPECT_EQ(keyClassOf(c.userid), c.keyClass) << c.userid;
}

TEST_F(ModuleTest, CountActivity) {
  Boot how;
  how.at = {2024, 3, 5, 21, 10, 0};  // bucket 5
  how.accounts = {{"TwoSeven", {"K7", "K2"}}, {"Quiet", {"K0"}, true}};
  boot(how);
  for (int kind = 0; kind <= 5; ++kind) countActivity("TwoSeven", kind);
  countActivity("Quiet", KIND_LOGONS);
  countActivity("Stranger", KIND_LOGONS);
  std::uint32_t expected[4][10][11] = {};
  for (int kind = 0; kind < 4; ++kind) expected[kind][2][5] = 1;
  EXPECT_EQ(std::memcmp(moduleState.counters, expected, sizeof expected), 0);
}

// onLogon skips a no-tally visit; the connect hook counts without looking.
TEST_F(ModuleTest, WhichLogonsAreCounted) {
  Boot how;
  how.at = {2024, 3, 5, 9, 0, 0};  // bucket 0
  how.accounts = {{"Demo", {"K1"}}, {"Quiet", {"K1"}, true}};
  boot(how);
  const std::uint32_t& logons = moduleState.counters[KIND_LOGONS - 1][1][0];
  simhost::Arrival a;
  a.userid = "Demo";
  a.channel = 1;
  ASSERT_EQ(simhost::logon(a), "");
  EXPECT_EQ(logons, 1u);
  a.channel = 2;
  a.notally = true;
  ASSERT_EQ(simhost::logon(a), "");
  EXPECT_EQ(logons, 1u);
  a.channel = 3;
  ASSERT_EQ(simhost::connect(a), "");
  EXPECT_EQ(logons, 2u);
  a.channel = 4;
  a.userid = "Quiet";
  a.notally = false;
  ASSERT_EQ(simhost::logon(a), "");
  ASSERT_EQ(simhost::connect({5, "Quiet"}), "");
  EXPECT_EQ(logons, 2u);
}

}  // namespace
