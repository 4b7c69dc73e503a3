// What the sysop reads, apart from any route: the JSON strings, the ends
// of delays on packed values, the report file read back in the module's
// layout, and the host's own count of today from the trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/sysop/host_watch.h"
#include "board/sysop/json.h"
#include "hostprog/delay_end.h"
#include "hostprog/event_read.h"
#include "hostprog/report_read.h"

namespace fs = std::filesystem;

namespace {

TEST(Json, StringsAreEscapedAndAlwaysValid) {
  EXPECT_EQ(board::jsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(board::jsonString("caf\xC3\xA9 \xFF"), "\"caf\xC3\xA9 \xEF\xBF\xBD\"");
  EXPECT_EQ(board::readJsonFields(R"({"t":"\u00e9\ud83d\ude00\n"})", {"t"}).values.at("t"),
            "\xC3\xA9\xF0\x9F\x98\x80\n");
}

// The ends of delays on packed values (date, time) as a sysop reads them.
TEST(DelayEnd, TheEndAndTheWindow) {
  auto d = [](int y, int m, int day) {
    return static_cast<std::uint16_t>((y - 1980) << 9 | m << 5 | day);
  };
  auto t = [](int h, int m, int s) { return static_cast<std::uint16_t>(h << 11 | m << 5 | s / 2); };
  struct Case {
    const char* what;
    int length;
    std::uint16_t start, end;  // the window
    hostprog::Moment stamp, asked, until, lifts;
    bool holds;
  } const cases[] = {
      {"ends inside the window",
       3600,
       t(8, 0, 0),
       t(20, 0, 0),
       {d(2024, 3, 5), t(12, 0, 0)},
       {d(2024, 3, 5), t(12, 30, 0)},
       {d(2024, 3, 5), t(13, 0, 0)},
       {d(2024, 3, 5), t(13, 0, 0)},
       true},
      {"the window closes first",
       5400,
       t(8, 0, 0),
       t(20, 0, 0),
       {d(2024, 3, 5), t(19, 0, 0)},
       {d(2024, 3, 5), t(19, 30, 0)},
       {d(2024, 3, 5), t(20, 30, 0)},
       {d(2024, 3, 5), t(20, 0, 2)},
       true},
      {"ends as the window closes",
       3600,
       t(8, 0, 0),
       t(20, 0, 0),
       {d(2024, 3, 5), t(19, 0, 0)},
       {d(2024, 3, 5), t(19, 30, 0)},
       {d(2024, 3, 5), t(20, 0, 0)},
       {d(2024, 3, 5), t(20, 0, 0)},
       true},
      {"outside the window",
       3600,
       t(8, 0, 0),
       t(20, 0, 0),
       {d(2024, 3, 5), t(19, 0, 0)},
       {d(2024, 3, 5), t(20, 0, 2)},
       {d(2024, 3, 5), t(20, 0, 0)},
       {d(2024, 3, 5), t(20, 0, 2)},
       false},
      {"over midnight",
       7200,
       t(0, 0, 0),
       t(23, 59, 58),
       {d(2024, 2, 28), t(23, 30, 0)},
       {d(2024, 2, 29), t(0, 30, 0)},
       {d(2024, 2, 29), t(1, 30, 0)},
       {d(2024, 2, 29), t(1, 30, 0)},
       true},
      {"a window over midnight",
       3600,
       t(22, 0, 0),
       t(6, 0, 0),
       {d(2023, 12, 31), t(23, 30, 0)},
       {d(2023, 12, 31), t(23, 45, 0)},
       {d(2024, 1, 1), t(0, 30, 0)},
       {d(2024, 1, 1), t(0, 30, 0)},
       true},
      {"two days old",
       3600,
       t(0, 0, 0),
       t(23, 59, 58),
       {d(2024, 3, 3), t(12, 0, 0)},
       {d(2024, 3, 5), t(11, 0, 0)},
       {d(2024, 3, 3), t(13, 0, 0)},
       {d(2024, 3, 5), t(11, 0, 0)},
       false},
      {"no length",
       0,
       t(0, 0, 0),
       t(23, 59, 58),
       {d(2024, 3, 5), t(12, 0, 0)},
       {d(2024, 3, 5), t(12, 0, 0)},
       {d(2024, 3, 5), t(12, 0, 0)},
       {d(2024, 3, 5), t(12, 0, 0)},
       false},
  };
  for (const Case& c : cases) {
    const hostprog::DelayTerms terms{c.length, c.start, c.end};
    const hostprog::Moment end = hostprog::delayEnd(terms, c.stamp);
    EXPECT_EQ(end.date, c.until.date) << c.what;
    EXPECT_EQ(end.time, c.until.time) << c.what;
    EXPECT_EQ(hostprog::delayHolds(terms, end, c.asked), c.holds) << c.what;
    const hostprog::Moment lifts = hostprog::delayLifts(terms, end, c.asked);
    EXPECT_EQ(lifts.date, c.lifts.date) << c.what;
    EXPECT_EQ(lifts.time, c.lifts.time) << c.what;
  }
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The tables in the module's own layout again, to compare with its file.
std::string layout(const hostprog::ReportDay& day) {
  std::string out;
  for (const hostprog::ReportTable& t : day.tables) {
    out += std::string(80, '-') + "\n" + day.span + " Zor Gaval Activity Report: " + t.kind + "\n";
    out += "             06-12 13-15 16-18 19    20    21    22    23    24    01    02-05\n";
    for (std::size_t k = 0; k < t.keys.size(); ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "%-13.12s", t.keys[k].c_str());
      out += name;
      for (unsigned long n : t.counts[k]) {
        char cell[16];
        std::snprintf(cell, sizeof cell, "%-6lu", n);
        out += cell;
      }
      out += "\n";
    }
  }
  return out;
}

TEST(Report, ReadBackFromTheModulesFilesAndADamagedDayNamed) {
  const std::string march = fileText(SOURCE_DIR "/tests/scenarios/report-march.rpt");
  const std::string evening = fileText(SOURCE_DIR "/tests/scenarios/busy-evening.rpt");
  ASSERT_FALSE(march.empty());
  ASSERT_FALSE(evening.empty());
  for (const std::string& text : {march, evening}) {
    const hostprog::ReportFile f = hostprog::readReportText(text);
    ASSERT_EQ(f.days.size(), 1u);
    EXPECT_EQ(f.days[0].damaged, "");
    EXPECT_EQ(layout(f.days[0]), text);
  }
  // One count of the evening's BUMPS table cut short: that day is named
  // with the line, the day before is shown whole.
  std::string damaged = evening;
  const std::size_t bumps = damaged.find("Report: BUMPS");
  const std::size_t row = damaged.find('\n', damaged.find('\n', bumps) + 1) + 1;
  damaged.replace(damaged.find("0     \n", row), 7, "x\n");
  const hostprog::ReportFile f = hostprog::readReportText(march + damaged + march);
  ASSERT_EQ(f.days.size(), 3u);
  EXPECT_EQ(layout(f.days[0]), march);
  EXPECT_EQ(f.days[1].span, hostprog::readReportText(evening).days[0].span);
  EXPECT_TRUE(f.days[1].tables.empty());
  const int line =
      13 + static_cast<int>(std::count(damaged.begin(), damaged.begin() + row, '\n')) + 1;
  EXPECT_EQ(f.days[1].damaged, std::to_string(line) + ": a Key class row without its 11 counts");
  EXPECT_EQ(layout(f.days[2]), march);
  const hostprog::ReportFile none = hostprog::readReport(fs::temp_directory_path() / "no-such.rpt");
  EXPECT_TRUE(none.missing);
  EXPECT_NE(none.error.find("no report yet"), std::string::npos);
  const hostprog::ReportFile unreadable = hostprog::readReport(fs::temp_directory_path());
  EXPECT_FALSE(unreadable.missing);
}

TEST(HostWatch, TheCandidateAndTodaysCountByHour) {
  board::HostWatch w;
  const char* const lines[] = {
      "2024-03-05 19:00:00 audit \"Gaval warned a user\" \"User-ID: Bob\"",
      "2024-03-05 19:00:30 hangup 2 \"Bob\"",  // bumped: his hang-up ends the watch
      "2024-03-05 19:00:30 audit \"Gaval bumped a user\" \"User-ID: Bob\"",
      "2024-03-05 20:10:00 audit \"Gaval warned a user\" \"User-ID: Ann\"",
      "2024-03-05 20:11:00 audit \"Gaval delayed Log-on\" \"User-ID: Bob\"",
  };
  const auto see = [&w](const char* line) {
    const hostprog::ReadEvent r = hostprog::readEvent(line);
    ASSERT_TRUE(r.event) << line << ": " << r.error;
    w.see(*r.event);
  };
  for (const char* l : lines) see(l);
  EXPECT_EQ(w.candidate(), "Ann");
  EXPECT_EQ(w.day(), "2024-03-05");
  EXPECT_EQ(w.since(), "19:00:00");
  EXPECT_EQ(w.hours()[0][19], 1);
  EXPECT_EQ(w.hours()[0][20], 1);
  EXPECT_EQ(w.hours()[1][19], 1);
  EXPECT_EQ(w.hours()[2][20], 1);
  EXPECT_EQ(w.hours()[3][19], 1);
  see("2024-03-06 00:00:04 hangup 1 \"Ann\"");
  EXPECT_EQ(w.candidate(), "");
  EXPECT_EQ(w.hours()[0][20], 0);  // a new day counts afresh
  EXPECT_EQ(w.hours()[3][0], 1);
}

}  // namespace
