// The board's pure units: the telnet and line layer fed bytes as the
// network cuts them, the host clock's scaling, and the command line's
// refusals of bad values.
#include <gtest/gtest.h>

#include <vector>

#include "board/config.h"
#include "board/live_clock.h"
#include "board/telnet.h"

namespace {

using board::Line;
using board::TelnetLine;

std::vector<Line> linesOf(TelnetLine& t) {
  std::vector<Line> out;
  Line l;
  while (t.nextLine(&l)) out.push_back(l);
  return out;
}

TEST(TelnetLine, LinesFromBytesAsTheyArrive) {
  struct Case {
    std::vector<std::string> reads;
    std::vector<std::string> lines;
  };
  const std::string big(300, 'x');
  const Case cases[] = {
      {{"alice\r\n"}, {"alice"}},
      {{std::string("alice\r\0", 7)}, {"alice"}},
      {{"alice\n"}, {"alice"}},
      {{"ali", "ce\r", "\nbob\n"}, {"alice", "bob"}},  // CR LF split by the network
      {{"a\r\n\r\nb\n"}, {"a", "", "b"}},
      {{"ab\x08" "c\x7f d\n"}, {"a d"}},                // backspace and delete
      {{"a\x1b[2Jb\n"}, {"a[2Jb"}},                    // an escape byte dropped
      {{"al\xff\xf4ice\n"}, {"alice"}},                // IAC IP
      {{"a\xff\xfb\x01" "b\n"}, {"ab"}},               // IAC WILL ECHO
      {{"a\xff\xfa\x18\x01", "x\xff\xf0" "b\n"}, {"ab"}},  // a subnegotiation, split
      {{"a\xff\xff" "b\n"}, {"a\xff" "b"}},            // IAC IAC is a data byte
      {{"\xc3\xa9t\xc3\xa9\n"}, {"\xc3\xa9t\xc3\xa9"}},  // UTF-8 passes
      {{big + "\n"}, {std::string(board::kLineCap, 'x')}},
  };
  for (const Case& c : cases) {
    TelnetLine t;
    std::string shown;
    for (const std::string& r : c.reads) {
      t.receive(r);
      shown += r;
    }
    std::vector<std::string> got;
    for (const Line& l : linesOf(t)) got.push_back(l.text);
    EXPECT_EQ(got, c.lines) << "input: " << testing::PrintToString(shown);
  }
}

TEST(TelnetLine, LongLineIsCutAndSaysSo) {
  TelnetLine t;
  t.receive(std::string(1 << 20, 'y'));  // a megabyte with no end yet
  t.receive("\n");
  const auto lines = linesOf(t);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text.size(), board::kLineCap);
  EXPECT_TRUE(lines[0].cut);
}

TEST(TelnetLine, OutputByteForByteWithIacDoubled) {
  TelnetLine t;
  t.send("x\r\ny\n\xff z");
  EXPECT_EQ(t.takeOutput(), "x\r\ny\n\xff\xff z");
}

TEST(TelnetLine, EchoOnlyOnceTheClientAgreesAndNeverForPasswords) {
  TelnetLine t;
  t.start();
  EXPECT_EQ(t.takeOutput(), "\xff\xfb\x01\xff\xfb\x03");  // WILL ECHO, WILL SGA
  t.receive("ab\r\n");
  EXPECT_EQ(t.takeOutput(), "") << "echo to a client that did not ask";
  t.receive("\xff\xfd\x01");  // DO ECHO
  t.receive("ab\x7f" "c\r\n");
  EXPECT_EQ(t.takeOutput(), "ab\b \bc\r\n");
  t.setEcho(false);
  t.receive("secret\r\n");
  EXPECT_EQ(t.takeOutput(), "\r\n");
}

TEST(LiveClock, ScalesBothWays) {
  using namespace std::chrono;
  const auto origin = board::LiveClock::Steady::time_point{} + hours(1);
  const board::LiveClock c(1000, 60, origin);
  EXPECT_EQ(c.at(origin - seconds(5)), 1000);
  EXPECT_EQ(c.at(origin + milliseconds(999)), 1059);
  EXPECT_EQ(c.at(origin + seconds(1)), 1060);
  EXPECT_EQ(c.when(1060), origin + seconds(1));
  EXPECT_EQ(c.when(1001), origin + nanoseconds(16666667));  // not before it reads 1001
  EXPECT_EQ(c.at(c.when(1001)), 1001);
  const board::LiveClock fast(0, 3600, origin);  // ten years at full speed
  EXPECT_EQ(fast.at(origin + hours(24 * 3650)), std::int64_t{3600} * 3600 * 24 * 3650);
}

TEST(BoardCommandLine, BadValuesAreRefusedWithTheFlag) {
  const std::vector<std::vector<std::string>> bad = {
      {"--speed", "0"},          {"--speed", "3601"},     {"--channels", "257"},
      {"--channels", "x"},       {"--listen", "1.2.3.4"}, {"--listen", "::1:23"},
      {"--listen", "[::1]:65536"}, {"--clock", "2026-02-30 10:00:00"},
      {"--clock", "1979-12-31 23:59:59"}, {"--first", "XYZ"}, {"--new-users", "A,,B"},
      {"--idle-timeout", "0"},   {"--bogus"},             {"--dir"},
      {"--signup-limit", "x"},   {"--signup-limit", "1001"}, {"--signup-limit"},
      {"extra"},
  };
  for (const auto& args : bad) {
    EXPECT_NE(board::parseConfig(args).error, "") << testing::PrintToString(args);
  }
  const auto good = board::parseConfig(
      {"--listen", "[::1]:0", "--first", "1f", "--clock", "2024-02-29 23:59:59",
       "--signup-limit", "7"});
  ASSERT_EQ(good.error, "");
  EXPECT_EQ(good.config.listenHost, "::1");
  EXPECT_EQ(good.config.port, 0u);
  EXPECT_EQ(good.config.firstNumber, 0x1fu);
  EXPECT_EQ(good.config.throttle.signUps, 7);
}

}  // namespace
