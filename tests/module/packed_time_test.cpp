// Packed date and time arithmetic: the day and second steps, the ends of
// the packable years, damaged dates, and the end of a delay.
#include <gtest/gtest.h>

#include "fixture.h"
#include "frame/state.h"
#include "store/packed_time.h"

namespace {

struct DayCase {
  PackedDate from;
  unsigned n;
  PackedDate added;  // addDays(n, from)
};

TEST(PackedDates, AddAndSubtractDays) {
  const DayCase cases[] = {
      {packDate(2023, 1, 31), 1, packDate(2023, 2, 1)},
      {packDate(2024, 2, 28), 1, packDate(2024, 2, 29)},  // leap February
      {packDate(2023, 2, 28), 1, packDate(2023, 3, 1)},
      {packDate(2024, 2, 29), 1, packDate(2024, 3, 1)},
      {packDate(2023, 12, 31), 1, packDate(2024, 1, 1)},  // year end
      {packDate(2023, 4, 30), 1, packDate(2023, 5, 1)},
      {packDate(2023, 6, 15), 0, packDate(2023, 6, 15)},  // n = 0
      {packDate(2023, 1, 20), 45, packDate(2023, 3, 6)},  // several months
      {packDate(2023, 12, 20), 400, packDate(2025, 1, 23)},
      {packDate(2100, 2, 28), 1, packDate(2100, 2, 29)},  // no century rule
  };
  for (const DayCase& c : cases) {
    EXPECT_EQ(showDate(addDays(c.n, c.from)), showDate(c.added))
        << "addDays(" << c.n << ", " << showDate(c.from) << ")";
    EXPECT_EQ(showDate(subtractDays(c.n, c.added)), showDate(c.from))
        << "subtractDays(" << c.n << ", " << showDate(c.added) << ")";
  }
  // Going back onto a month's last day.
  EXPECT_EQ(showDate(subtractDays(1, packDate(2023, 3, 1))), "2023-02-28");
  EXPECT_EQ(showDate(subtractDays(1, packDate(2024, 1, 1))), "2023-12-31");
  EXPECT_EQ(showDate(subtractDays(2, packDate(2024, 3, 1))), "2024-02-28");
  EXPECT_EQ(showDate(subtractDays(31, packDate(2023, 3, 31))), "2023-02-28");
}

TEST(PackedDates, SubtractUndoesAdd) {
  for (int year : {1980, 1999, 2000, 2023, 2024, 2100, 2106}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 2, 15, 28, 29, 30, 31}) {
        const PackedDate d = packDate(year, month, day);
        if (!isCalendarDate(d)) continue;
        for (unsigned n = 0; n <= 70; n += 7) {
          ASSERT_EQ(showDate(subtractDays(n, addDays(n, d))), showDate(d)) << "n=" << n;
          if (year > 1980) {  // going back from January 1980 stops at its 1st
            ASSERT_EQ(showDate(addDays(n, subtractDays(n, d))), showDate(d)) << "n=" << n;
          }
        }
      }
    }
  }
}

// Nothing past 2107-12-31 or before 1980-01-01 can be packed; the results
// stay on those days rather than wrapping round to the other end.
TEST(PackedDates, EndsOfThePackedYears) {
  EXPECT_EQ(showDate(addDays(1, packDate(2107, 12, 31))), "2107-12-31");
  EXPECT_EQ(showDate(addDays(10, packDate(2107, 12, 25))), "2107-12-31");
  EXPECT_EQ(showDate(addDays(6, packDate(2107, 12, 25))), "2107-12-31");
  EXPECT_EQ(showDate(subtractDays(1, packDate(1980, 1, 1))), "1980-01-01");
  EXPECT_EQ(showDate(subtractDays(40, packDate(1980, 1, 20))), "1980-01-01");
}

TEST(PackedDates, DamagedDatesAreLeftAlone) {
  const PackedDate damaged[] = {packDate(2023, 0, 10),  packDate(2023, 13, 1),
                                packDate(2023, 15, 31), packDate(2023, 6, 0),
                                packDate(2023, 2, 30),  packDate(2023, 4, 31)};
  for (PackedDate d : damaged) {
    EXPECT_FALSE(isCalendarDate(d)) << showDate(d);
    EXPECT_EQ(addDays(3, d), d) << showDate(d);
    EXPECT_EQ(subtractDays(3, d), d) << showDate(d);
  }
  EXPECT_TRUE(isCalendarDate(packDate(2024, 2, 29)));
}

TEST(PackedTimes, AddSeconds) {
  struct {
    int seconds;
    PackedTime from, to;
  } const cases[] = {
      {7200, packTime(23, 30, 0), packTime(1, 30, 0)},  // across midnight
      {1800, packTime(10, 45, 0), packTime(11, 15, 0)},
      {0, packTime(13, 14, 58), packTime(13, 14, 58)},
      {3, packTime(10, 0, 0), packTime(10, 0, 2)},  // odd seconds: 2 s step
      {1, packTime(10, 0, 0), packTime(10, 0, 0)},
      {2, packTime(23, 59, 58), packTime(0, 0, 0)},
      {61, packTime(8, 59, 58), packTime(9, 0, 58)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(showTime(addSecondsToTime(c.seconds, c.from)), showTime(c.to))
        << c.seconds << " s after " << showTime(c.from);
}

TEST(PackedTimes, EndOfDelay) {
  moduleState.delayLength = 7200;
  DelayEnd end = endOfDelay(packDate(2023, 12, 31), packTime(23, 30, 0));
  EXPECT_EQ(showDate(end.date), "2024-01-01");
  EXPECT_EQ(showTime(end.time), "01:30:00");
  end = endOfDelay(packDate(2023, 12, 31), packTime(12, 0, 0));
  EXPECT_EQ(showDate(end.date), "2023-12-31");
  EXPECT_EQ(showTime(end.time), "14:00:00");
  // The last day: the delay runs to its last moment instead of ending early.
  end = endOfDelay(packDate(2107, 12, 31), packTime(23, 30, 0));
  EXPECT_EQ(showDate(end.date), "2107-12-31");
  EXPECT_EQ(showTime(end.time), "23:59:58");
  moduleState.delayLength = 0;
  end = endOfDelay(packDate(2023, 5, 5), packTime(9, 0, 0));
  EXPECT_EQ(showTime(end.time), "09:00:00");
}

}  // namespace
