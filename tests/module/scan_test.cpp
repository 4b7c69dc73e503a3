// The scan: which channels count as busy, and which signed-on user the
// choice makes the Bump candidate.
#include <gtest/gtest.h>

#include <cstring>

#include "fixture.h"
#include "frame/state.h"
#include "guard/scan.h"

namespace {

struct Seat {
  int ch;
  std::string userid;
  std::int32_t status = 6;
  std::int32_t usage = 0;
  bool viaConnect = true;  // false: `occupy`, no account or log-on
};

void place(const Seat& s) {
  if (!s.viaConnect) {
    ASSERT_EQ(simhost::occupy(s.ch, s.status, s.userid), "") << s.userid;
    return;
  }
  simhost::Arrival a;
  a.channel = s.ch;
  a.userid = s.userid;
  a.status = s.status;
  a.usage = s.usage;
  ASSERT_EQ(simhost::connect(a), "") << s.userid;
}

const std::vector<TestAccount> accounts = {
    {"Cand", {"K0"}},    {"Other", {}},  {"Boss", {"K0", "EXEMPT"}}, {"A", {"K3"}}, {"B", {"K1"}},
    {"(Guest)", {"K0"}}, {"Neg", {"K0"}}};

// Range 02-05, reserve 2: busy with two channels. "Cand" sits on channel 2;
// the second occupant decides whether the range is busy.
TEST_F(ModuleTest, WhatCountsAsBusy) {
  struct {
    const char* what;
    Seat other;
    bool busy;
  } const cases[] = {
      {"signed on inside", {3, "Other"}, true},
      {"upper bound", {5, "Other"}, true},
      {"below the range", {1, "Other"}, false},
      {"above the range", {6, "Other"}, false},
      {"log-on in progress", {3, "(Login)", 1, 0, false}, true},
      {"other status", {3, "Other", 3, 0, false}, true},
      {"no user-id", {3, "", 1, 0, false}, false},
      {"exempt holder", {3, "Boss"}, true},
  };
  for (const auto& c : cases) {
    Boot how;
    how.options = {{17, "02"}, {18, "05"}, {15, "2"}};
    how.accounts = accounts;
    boot(how);
    place({2, "Cand"});
    place(c.other);
    advance(30);
    EXPECT_EQ(count("deliver 2 \"warn 60\""), c.busy ? 1 : 0) << c.what << "\n" << traceText();
  }
}

// Range 00-03. chooseCandidate is called directly after the placements,
// with the candidate as start-up cleared it.
TEST_F(ModuleTest, WhoIsChosen) {
  struct {
    const char* what;
    std::vector<Seat> seats;
    const char* chosen;
    int found;
  } const cases[] = {
      {"status 6", {{1, "Cand", 6, 5}}, "Cand", 1},
      {"status 2", {{1, "Cand", 2, 5}}, "Cand", 1},
      {"status 3", {{1, "Cand", 3, 5}}, "", 0},
      {"outside the range", {{4, "Cand", 6, 5}}, "", 0},
      {"parenthesis", {{1, "(Guest)", 6, 5}}, "", 0},
      {"exempt", {{1, "Boss", 6, 5}}, "", 0},
      {"no bump key", {{1, "Other", 6, 5}}, "", 0},
      {"class 3 first", {{0, "A", 6, 100}, {1, "B", 6, 50}}, "A", 1},
      {"class 1 first", {{0, "B", 6, 50}, {1, "A", 6, 100}}, "B", 1},
      {"better on both", {{0, "A", 6, 50}, {1, "B", 6, 100}}, "B", 1},
      {"equal: first kept", {{0, "Cand", 6, 7}, {1, "Neg", 6, 7}}, "Cand", 1},
      {"usage -1", {{1, "Neg", 6, -1}}, "", 1},
  };
  for (const auto& c : cases) {
    Boot how;
    how.options = {{17, "00"}, {18, "03"}};
    how.accounts = accounts;
    boot(how);
    for (const Seat& s : c.seats) place(s);
    EXPECT_EQ(chooseCandidate(), c.found) << c.what;
    EXPECT_STREQ(moduleState.candidateId, c.chosen) << c.what;
  }
}

// The candidate kept from an earlier scan is the yardstick for the next.
TEST_F(ModuleTest, ChoiceKeepsTheEarlierCandidate) {
  Boot how;
  how.accounts = accounts;
  boot(how);
  place({0, "A", 6, 100});
  ASSERT_TRUE(chooseCandidate());
  ASSERT_STREQ(moduleState.candidateId, "A");
  place({1, "B", 6, 100});  // class 1 but usage not above A's
  EXPECT_TRUE(chooseCandidate());
  EXPECT_STREQ(moduleState.candidateId, "A");
  ASSERT_EQ(simhost::setField(1, simhost::Field::Usage, 101), "");
  EXPECT_TRUE(chooseCandidate());
  EXPECT_STREQ(moduleState.candidateId, "B");
  EXPECT_EQ(moduleState.candidateClass, 1);
  EXPECT_EQ(moduleState.candidateUsage, 101);
  clearCandidate();
  const char zeros[USERID_SIZE] = {};
  EXPECT_EQ(std::memcmp(moduleState.candidateId, zeros, USERID_SIZE), 0);
}

}  // namespace
