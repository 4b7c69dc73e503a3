// The virtual clock: civil conversion over the whole supported range, the
// packed date and time the module reads, and the host's date/time texts.
#include <cstring>

#include "core_host.h"

using simhost::civilFromClock;
using simhost::CivilTime;
using simhost::Clock;
using simhost::clockFromCivil;
using simhost::formatClock;

namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int monthLength(int y, int m) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : lengths[m - 1];
}

}  // namespace

TEST(CoreClock, KnownDates) {
  const struct {
    CivilTime civil;
    Clock clock;
    const char* text;
  } cases[] = {
      {{1980, 1, 1, 0, 0, 0}, 0, "1980-01-01 00:00:00"},
      {{1980, 1, 2, 0, 0, 1}, 86401, "1980-01-02 00:00:01"},
      {{1980, 3, 1, 0, 0, 0}, 60LL * 86400, "1980-03-01 00:00:00"},  // 1980 is leap
      {{2000, 2, 29, 23, 59, 59}, 7364LL * 86400 + 86399, "2000-02-29 23:59:59"},
      {{2107, 12, 31, 23, 59, 59}, 46750LL * 86400 + 86399, "2107-12-31 23:59:59"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(clockFromCivil(c.civil), c.clock) << c.text;
    EXPECT_EQ(formatClock(c.clock), c.text);
  }
}

// Walks every day from 1980 to 2107 against an independent calendar: each
// day is exactly 86400 seconds after the one before and converts back.
TEST(CoreClock, EveryDayRoundTrips) {
  Clock expected = 0;
  for (int y = 1980; y <= 2107; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= monthLength(y, m); ++d) {
        const CivilTime t{y, m, d, 13, 7, 59};
        const Clock c = clockFromCivil(t);
        ASSERT_EQ(c, expected + 13 * 3600 + 7 * 60 + 59) << y << "-" << m << "-" << d;
        const CivilTime back = civilFromClock(c);
        ASSERT_TRUE(back.year == y && back.month == m && back.day == d && back.hour == 13 &&
                    back.minute == 7 && back.second == 59)
            << formatClock(c);
        expected += 86400;
      }
    }
  }
}

class CoreClockHost : public CoreHost {};

TEST_F(CoreClockHost, PacksTheClockDroppingOddSeconds) {
  const struct {
    CivilTime at;
    PackedDate date;
    PackedTime time;
  } cases[] = {
      {{2024, 3, 1, 12, 34, 57}, (44 << 9) | (3 << 5) | 1, (12 << 11) | (34 << 5) | 28},
      {{2024, 3, 2, 0, 0, 1}, (44 << 9) | (3 << 5) | 2, 0},
      {{2024, 12, 31, 23, 59, 59}, (44 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
      {{2107, 12, 31, 23, 59, 58}, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
  };
  for (const auto& c : cases) {
    simhost::advanceTo(clockFromCivil(c.at));
    EXPECT_EQ(today(), c.date) << formatClock(simhost::clock());
    EXPECT_EQ(now(), c.time) << formatClock(simhost::clock());
  }
}

TEST_F(CoreClockHost, DateAndTimeTexts) {
  const PackedDate date = (27 << 9) | (2 << 5) | 9;  // 2007-02-09
  EXPECT_STREQ(ncdate(date), "02/09/07");
  EXPECT_STREQ(ncdate((20 << 9) | (12 << 5) | 31), "12/31/00");
  EXPECT_STREQ(nctime((6 << 11) | (5 << 5) | 29), "06:05:58");
  // One buffer per routine: the next call overwrites it, the other
  // routine's text stays.
  char* first = ncdate(date);
  char* time = nctime(0);
  EXPECT_EQ(ncdate(0), first);
  EXPECT_STREQ(time, "00:00:00");
}

TEST_F(CoreClockHost, ReadsTimesOfDay) {
  const struct {
    const char* text;
    PackedTime packed;
  } good[] = {
      {"06:00:00", 6 << 11},
      {"23:59:59", (23 << 11) | (59 << 5) | 29},
      {"00:00:01", 0},
  };
  for (const auto& c : good) EXPECT_EQ(dctime(c.text), c.packed) << c.text;
  EXPECT_TRUE(take().empty());

  const char* bad[] = {"24:00:00",  "12:60:00", "12:00:60", "6:00:00",
                       "06:00:00 ", "06-00-00", "",         "ab:cd:ef"};
  for (const char* text : bad) {
    EXPECT_EQ(dctime(text), 0) << text;
    const auto ev = take();
    ASSERT_EQ(ev.size(), 1u) << text;
    EXPECT_EQ(ev[0].rfind("warning \"dctime: ", 0), 0u) << ev[0];
  }
}

TEST(CoreTrace, QuotesEveryByteOutsidePrintableAscii) {
  EXPECT_EQ(simhost::quote("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(simhost::quote("\a\n\r\t"), "\"\\a\\n\\r\\t\"");
  EXPECT_EQ(simhost::quote(std::string("\x01\x7f\xe9\0", 4)), "\"\\x01\\x7f\\xe9\\x00\"");
  EXPECT_EQ(simhost::quote(" ~"), "\" ~\"");
}
