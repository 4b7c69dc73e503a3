// The end-of-run summary: which events, as a trace's lines read back,
// count as warnings, bumps and refused log-ons (and which only look like
// them), and how the counts read.
#include <gtest/gtest.h>

#include <string>

#include "hostprog/event_read.h"
#include "sim/trace.h"

namespace {

struct Seen {
  const char* line;
  int warnings, bumps, refused;
};

TEST(TraceTally, CountsTheModulesAuditEntriesOnly) {
  const Seen cases[] = {
      {R"(2024-03-15 20:01:30 audit "Gaval warned a user" "User-ID: Gus Guest")", 1, 0, 0},
      {R"(2024-03-15 20:02:30 audit "Gaval bumped a user" "User-ID: Gus Guest")", 0, 1, 0},
      {R"(2024-03-15 20:10:00 audit "Gaval delayed Log-on" "User-ID: Gus Guest")", 0, 0, 1},
      // Look-alikes: a message text, a user-id, another audit, a cut line.
      {R"(2024-03-15 20:02:30 deliver 1 "audit \"Gaval bumped a user\" ")", 0, 0, 0},
      {R"(2024-03-15 20:02:30 hangup 2 "Gaval warned a user")", 0, 0, 0},
      {R"(2024-03-15 20:00:00 audit "Zor Gaval 1.0W" "Gaval warned a user")", 0, 0, 0},
      {R"(2024-03-15 20:00:00 audit "Gaval warned a user")", 0, 0, 0},
      {R"(2024-03-15 20:00:00 audit "Gaval warned a users" "")", 0, 0, 0},
      {R"(2024-03-15 20:00:00 )", 0, 0, 0},
      {"", 0, 0, 0},
  };
  for (const Seen& c : cases) {
    sim::TraceTally t;
    if (const hostprog::ReadEvent r = hostprog::readEvent(c.line); r.event) t.see(*r.event);
    EXPECT_EQ(t.warnings, c.warnings) << c.line;
    EXPECT_EQ(t.bumps, c.bumps) << c.line;
    EXPECT_EQ(t.delayed, c.refused) << c.line;
  }
}

TEST(TraceTally, SummaryReadsAsEnglishAndOwnsUpToWhatItCannotCount) {
  sim::TraceTally t;
  EXPECT_EQ(t.summary(true, true, true), "0 warnings, 0 bumps, 0 refused log-ons");
  t.warnings = 2;
  t.bumps = 1;
  t.delayed = 1;
  EXPECT_EQ(t.summary(true, true, true), "2 warnings, 1 bump, 1 refused log-on");
  EXPECT_EQ(t.summary(false, true, false),
            "warnings not counted (option 21 is NO), 1 bump, "
            "refused log-ons not counted (option 26 is NO)");
  EXPECT_EQ(t.summary(true, false, true),
            "2 warnings, bumps not counted (option 22 is NO), 1 refused log-on");
}

}  // namespace
