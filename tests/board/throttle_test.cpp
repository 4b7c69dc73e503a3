// The throttle's table of failed log-ons and calls per address: the
// window, the exemptions, the caps, guesses counted when handed out and
// forgiven when right, eviction, and sign-ups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/caller/throttle.h"

TEST(Throttle, CountsFailuresPerAddressWithinTheWindow) {
  using namespace std::chrono_literals;
  using board::Throttle;
  const Throttle::Time t0{};
  struct Case {
    const char* what;
    std::vector<std::chrono::seconds> failures;  // when each failure comes
    std::chrono::seconds asked;                  // when a call then arrives
    Throttle::Admit admit;
    int blocks;  // failures that answered "now blocked"
  };
  const Case cases[] = {
      {"four are not enough", {0s, 1s, 2s, 3s}, 4s, Throttle::Admit::Yes, 0},
      {"the fifth blocks", {0s, 1s, 2s, 3s, 4s}, 5s, Throttle::Admit::Blocked, 1},
      {"more while blocked",
       {0s, 1s, 2s, 3s, 4s, 5s, 6s, 7s, 8s, 9s},
       603s,
       Throttle::Admit::Blocked,
       1},
      {"then let in", {0s, 1s, 2s, 3s, 4s}, 604s, Throttle::Admit::Yes, 1},
      {"the first fell out of the window",
       {0s, 200s, 400s, 550s, 600s},
       601s,
       Throttle::Admit::Yes,
       0},
  };
  for (const Case& c : cases) {
    Throttle throttle;
    int blocks = 0;
    for (auto at : c.failures) blocks += throttle.failed("192.0.2.7", t0 + at);
    EXPECT_EQ(blocks, c.blocks) << c.what;
    EXPECT_EQ(throttle.admit("192.0.2.7", t0 + c.asked), c.admit) << c.what;
    EXPECT_EQ(throttle.admit("192.0.2.8", t0 + c.asked), Throttle::Admit::Yes) << c.what;
  }
}

TEST(Throttle, ExemptionsListingUnblockingCapAndBound) {
  using namespace std::chrono_literals;
  using board::Throttle;
  const Throttle::Time t0{};
  const auto fail5 = [&](Throttle& t, const std::string& address) {
    for (int i = 0; i < 5; ++i) t.failed(address, t0 + std::chrono::seconds(i));
  };
  Throttle lenient;
  for (const char* loopback : {"127.0.0.1", "127.9.9.9", "::1", "::ffff:127.0.0.1"}) {
    fail5(lenient, loopback);
    EXPECT_EQ(lenient.admit(loopback, t0 + 5s), Throttle::Admit::Yes) << loopback;
  }
  Throttle strict({.includeLoopback = true});
  fail5(strict, "::1");
  fail5(strict, "::ffff:198.51.100.4");  // the same caller as 198.51.100.4
  EXPECT_EQ(strict.admit("198.51.100.4", t0 + 5s), Throttle::Admit::Blocked);
  const std::vector<Throttle::Block> listed = strict.blocked(t0 + 100s);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].address, "198.51.100.4");
  EXPECT_EQ(listed[1].address, "::1");
  EXPECT_EQ(listed[1].left, 504s);
  EXPECT_TRUE(strict.unblock("::1", t0 + 100s));
  EXPECT_FALSE(strict.unblock("::1", t0 + 100s));
  EXPECT_EQ(strict.admit("::1", t0 + 100s), Throttle::Admit::Yes);

  Throttle capped({.callsPerAddress = 2});
  EXPECT_EQ(capped.admit("203.0.113.1", t0), Throttle::Admit::Yes);
  EXPECT_EQ(capped.admit("203.0.113.1", t0), Throttle::Admit::Yes);
  EXPECT_EQ(capped.admit("203.0.113.1", t0), Throttle::Admit::TooManyCalls);
  capped.callEnded("203.0.113.1");
  EXPECT_EQ(capped.admit("203.0.113.1", t0), Throttle::Admit::Yes);

  Throttle bounded({.maxAddresses = 8});
  for (int i = 0; i < 1000; ++i) {
    bounded.failed("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                   t0 + std::chrono::seconds(i));
  }
  EXPECT_LE(bounded.remembered(), 8u);
  bounded.expire(t0 + 2000s);
  EXPECT_EQ(bounded.remembered(), 0u);
}

// Guesses count when they are handed out to be checked, so calls guessing at
// once are held to the limit; a right one is forgiven.
TEST(Throttle, GuessesCountWhenHandedOutAndRightOnesAreForgiven) {
  using namespace std::chrono_literals;
  using board::Throttle;
  using G = Throttle::Guess;
  const Throttle::Time t0{};
  struct Step {
    bool right;  // forgive the guess made at AT, instead of guessing
    std::chrono::seconds at;
    G want;  // a guess's answer; after forgiving, Refused while the address stays blocked
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    Throttle::Admit after;  // a call at 10 s
  };
  const Case cases[] = {
      {"ten at once: five checked, the fifth blocks",
       {{false, 0s, G::Check},
        {false, 0s, G::Check},
        {false, 0s, G::Check},
        {false, 0s, G::Check},
        {false, 0s, G::Blocks},
        {false, 0s, G::Refused},
        {false, 0s, G::Refused},
        {false, 1s, G::Refused}},
       Throttle::Admit::Blocked},
      {"a right one no longer counts",
       {{false, 0s, G::Check},
        {false, 1s, G::Check},
        {false, 2s, G::Check},
        {false, 3s, G::Check},
        {true, 1s, G::Check},
        {false, 4s, G::Check},
        {false, 5s, G::Blocks}},
       Throttle::Admit::Blocked},
      {"right, the guess that blocked lifts the block",
       {{false, 0s, G::Check},
        {false, 1s, G::Check},
        {false, 2s, G::Check},
        {false, 3s, G::Check},
        {false, 4s, G::Blocks},
        {true, 4s, G::Check}},
       Throttle::Admit::Yes},
      {"... and the four before it still count",
       {{false, 0s, G::Check},
        {false, 1s, G::Check},
        {false, 2s, G::Check},
        {false, 3s, G::Check},
        {false, 4s, G::Blocks},
        {true, 2s, G::Check},
        {false, 5s, G::Blocks}},
       Throttle::Admit::Blocked},
      {"a right one takes back its own guess only",
       {{false, 0s, G::Check},
        {false, 1s, G::Check},
        {false, 2s, G::Check},
        {false, 3s, G::Check},
        {false, 4s, G::Blocks},
        {true, 5s, G::Refused}},
       Throttle::Admit::Blocked},
  };
  for (const Case& c : cases) {
    Throttle throttle({.includeLoopback = true});
    for (const Step& s : c.steps) {
      if (s.right) {
        throttle.forgive("127.0.0.1", t0 + s.at, t0 + 6s);
        EXPECT_EQ(throttle.blocked(t0 + 6s).empty(), s.want != G::Refused)
            << c.what << ": forgiven at " << s.at.count();
      } else {
        EXPECT_EQ(throttle.guess("127.0.0.1", t0 + s.at), s.want)
            << c.what << " at " << s.at.count();
      }
    }
    EXPECT_EQ(throttle.admit("127.0.0.1", t0 + 10s), c.after) << c.what;
  }
  Throttle lenient;  // loopback exempt: always checked
  for (int i = 0; i < 10; ++i) EXPECT_EQ(lenient.guess("::1", t0), G::Check);
}

TEST(Throttle, EvictionNeverLiftsABlockAndAFullTableCountsRanges) {
  using namespace std::chrono_literals;
  using board::Throttle;
  const Throttle::Time t0{};
  const auto fail5 = [&](Throttle& t, const std::string& address, std::chrono::seconds at) {
    for (int i = 0; i < 5; ++i) t.failed(address, t0 + at);
  };
  struct Case {
    const char* what;
    std::vector<std::string> guessers;  // after the table is full of blocks
    std::string refused, served;        // a new address of the range, and one outside it
    std::string listed;
  };
  const Case cases[] = {
      {"IPv4 by its /24",
       {"10.9.9.1", "10.9.9.2", "10.9.9.3", "10.9.9.4", "10.9.9.5"},
       "10.9.9.200",
       "10.9.8.1",
       "10.9.9.0/24"},
      {"IPv6 by its /64",
       {"2001:db8::1", "2001:db8::2:1", "2001:db8::3", "2001:db8::4", "2001:db8::5"},
       "2001:db8::ffff:1",
       "2001:db8:0:1::1",
       "2001:db8::/64"},
  };
  for (const Case& c : cases) {
    Throttle throttle({.maxAddresses = 4});
    for (int i = 0; i < 4; ++i) fail5(throttle, "192.0.2." + std::to_string(i), 0s);
    for (int i = 0; i < 1000; ++i) {  // others failing once each: they may come and go
      throttle.failed("198.51.100." + std::to_string(i % 250), t0 + 1s);
    }
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(throttle.admit("192.0.2." + std::to_string(i), t0 + 599s), Throttle::Admit::Blocked)
          << c.what << ": a block was lifted";
    }
    for (const std::string& guesser : c.guessers) throttle.failed(guesser, t0 + 2s);
    EXPECT_EQ(throttle.admit(c.refused, t0 + 3s), Throttle::Admit::Blocked) << c.what;
    EXPECT_EQ(throttle.admit(c.served, t0 + 3s), Throttle::Admit::Yes) << c.what;
    const auto listed = throttle.blocked(t0 + 3s);
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const auto& b) {
      return b.address == c.listed;
    })) << c.what;
    EXPECT_LE(throttle.remembered(), 2 * 4 + 3u) << c.what;
    EXPECT_EQ(throttle.admit(c.refused, t0 + 602s), Throttle::Admit::Yes) << c.what;
  }
}

TEST(Throttle, SignUpsAnAddressTries) {
  using namespace std::chrono_literals;
  using board::Throttle;
  const Throttle::Time t0{};
  Throttle strict({.includeLoopback = true});
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(strict.signUp("127.0.0.1", t0 + std::chrono::seconds(i)));
  EXPECT_FALSE(strict.signUp("127.0.0.1", t0 + 100s));
  EXPECT_FALSE(strict.signUp("::ffff:127.0.0.1", t0 + 3599s));
  EXPECT_TRUE(strict.signUp("127.0.0.2", t0 + 100s));
  EXPECT_TRUE(strict.signUp("127.0.0.1", t0 + 3600s));  // the first ran out of the hour
  Throttle lenient;
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(lenient.signUp("127.0.0.1", t0));
  Throttle unlimited({.includeLoopback = true, .signUps = 0});
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(unlimited.signUp("127.0.0.1", t0));
}
