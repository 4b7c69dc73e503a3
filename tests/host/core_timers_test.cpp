// Timers and the midnight clean-up: due order with ties in arming order,
// the clock during a call, timers armed while firing, and the clean-up
// before the timers due at 00:00:00.
#include <cstring>

#include "core_host.h"

using simhost::clockFromCivil;

namespace {

void note(const char* what) {
  simhost::trace(std::string(what) + " usrnum=" + std::to_string(usrnum) + " now=" + nctime(now()));
}
void fireA() { note("A"); }
void fireB() { note("B"); }
void fireC() { note("C"); }
void fireZ() { note("Z"); }
void fireArmsZ() {
  note("X");
  rtkick(0, fireZ);
}
int chainLeft;
void fireChain() {
  note("chain");
  if (--chainLeft > 0) rtkick(2, fireChain);
}
void cleanupSlot() {
  simhost::trace(std::string("slot7 ") + ncdate(today()) + " usrnum=" + std::to_string(usrnum));
}

ModuleRecord module = [] {
  ModuleRecord m{};
  std::strcpy(m.description, "Timer test");
  m.cleanup = cleanupSlot;
  return m;
}();

}  // namespace

class CoreTimers : public CoreHost {};

TEST_F(CoreTimers, FireInDueOrderTiesInArmingOrder) {
  rtkick(5, fireA);
  rtkick(3, fireB);
  rtkick(5, fireC);
  rtkick(0, fireArmsZ);
  rtkick(3, fireA);
  simhost::advanceTo(simhost::clock() + 10);
  const std::vector<std::string> want = {
      "2024-03-01 12:00:00 X usrnum=0 now=12:00:00", "2024-03-01 12:00:00 Z usrnum=0 now=12:00:00",
      "2024-03-01 12:00:03 B usrnum=0 now=12:00:02", "2024-03-01 12:00:03 A usrnum=0 now=12:00:02",
      "2024-03-01 12:00:05 A usrnum=0 now=12:00:04", "2024-03-01 12:00:05 C usrnum=0 now=12:00:04",
  };
  EXPECT_EQ(lines, want);
  EXPECT_EQ(simhost::clock(), clockFromCivil({2024, 3, 1, 12, 0, 10}));
}

TEST_F(CoreTimers, TimerArmedAtTheSameSecondFiresAfterThoseArmedBefore) {
  rtkick(4, fireArmsZ);
  rtkick(4, fireB);
  simhost::advanceTo(simhost::clock() + 4);  // up to and including 12:00:04
  EXPECT_EQ(take(), (std::vector<std::string>{"X usrnum=0 now=12:00:04", "B usrnum=0 now=12:00:04",
                                              "Z usrnum=0 now=12:00:04"}));
}

TEST_F(CoreTimers, TimersArmedWhileFiringFireWithinTheAdvance) {
  chainLeft = 4;
  rtkick(1, fireChain);  // 12:00:01, :03, :05, :07
  simhost::advanceTo(simhost::clock() + 5);
  EXPECT_EQ(take().size(), 3u);
  simhost::advanceTo(simhost::clock() + 1);  // 12:00:06: nothing due
  EXPECT_TRUE(take().empty());
  simhost::advanceTo(simhost::clock() + 100);
  EXPECT_EQ(take(), (std::vector<std::string>{"chain usrnum=0 now=12:00:06"}));
}

TEST_F(CoreTimers, TimersSeeTheChannelServedLast) {
  ASSERT_EQ(simhost::occupy(3, 1, "(Login)"), "");
  usrnum = 7;  // whatever a routine left behind, the host restores its own
  rtkick(1, fireA);
  simhost::advanceTo(simhost::clock() + 1);
  EXPECT_EQ(take(), (std::vector<std::string>{"A usrnum=3 now=12:00:00"}));
}

TEST_F(CoreTimers, MidnightCleanupRunsBeforeTheTimersDueThen) {
  ASSERT_EQ(register_module(&module), 0);
  ASSERT_EQ(simhost::occupy(2, 6, "Night Owl"), "");
  simhost::advanceTo(clockFromCivil({2024, 3, 1, 23, 59, 58}));
  rtkick(2, fireA);
  rtkick(2, fireB);
  take();
  simhost::advanceTo(clockFromCivil({2024, 3, 3, 0, 0, 0}));
  EXPECT_EQ(take(), (std::vector<std::string>{"cleanup", "slot7 03/02/24 usrnum=2",
                                              "A usrnum=2 now=00:00:00", "B usrnum=2 now=00:00:00",
                                              "cleanup", "slot7 03/03/24 usrnum=2"}));
  // Already at 00:00:00: going nowhere does not run it again; the command does.
  simhost::advanceTo(simhost::clock());
  EXPECT_TRUE(take().empty());
  simhost::cleanup();
  EXPECT_EQ(take(), (std::vector<std::string>{"cleanup", "slot7 03/03/24 usrnum=2"}));
}
