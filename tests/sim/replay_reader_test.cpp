// The board-trace reader: every bad line named with its line, all in one
// pass; a simulator's trace refused; and each hang-up sorted into the
// caller's own departure or the module's doing.
#include <gtest/gtest.h>

#include "hostprog/event_read.h"
#include "sim/replay_reader.h"

namespace {

const char kHead[] =
    "2026-12-08 19:00:00 register 0 \"Zor Gaval\"\n"
    "2026-12-08 19:00:05 call 0 \"127.0.0.1:4000\"\n";

struct BadLine {
  const char* line;
  const char* error;  // what the error at line 3 says
};

class BadLines : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadLines, NamedWithTheirLine) {
  const std::string text = std::string(kHead) + GetParam().line + "\n";
  const sim::Evening e = sim::readBoardTrace("t.trace", text);
  ASSERT_EQ(e.errors.size(), 1u) << text;
  EXPECT_EQ(e.errors[0], std::string("t.trace:3: ") + GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadLines,
    ::testing::Values(
        BadLine{"19:00:06 call 1 \"a\"", "no \"YYYY-MM-DD HH:MM:SS\" stamp"},
        BadLine{"2026-02-30 19:00:06 call 1 \"a\"", "no \"YYYY-MM-DD HH:MM:SS\" stamp"},
        BadLine{"2026-12-08 24:00:00 call 1 \"a\"", "no \"YYYY-MM-DD HH:MM:SS\" stamp"},
        BadLine{"2026-12-08 19:00:06 ", "no event after the stamp"},
        BadLine{"2026-12-08 19:00:06 dance 1", "\"dance\" is not an event the board writes"},
        BadLine{"2026-12-08 19:00:06 logon 0 \"bob\"", "logon takes 3 words, not 2"},
        BadLine{"2026-12-08 19:00:06 logon 0 \"bob\" maybe",
                "logon: word 3 \"maybe\" is not accepted or rejected"},
        BadLine{"2026-12-08 19:00:06 logon x \"bob\" accepted",
                "logon: word 1 \"x\" is not a channel index"},
        BadLine{"2026-12-08 19:00:06 call 300 \"a\"",
                "call: word 1 \"300\" is not a channel index"},
        BadLine{"2026-12-08 19:00:06 busy a", "busy: word 1 \"a\" should be quoted"},
        BadLine{"2026-12-08 19:00:06 busy \"a", "a quoted text that cannot be read"},
        BadLine{"2026-12-08 19:00:06 busy \"a\\q\"", "a quoted text that cannot be read"},
        BadLine{"2026-12-08 19:00:06 block \"a\" soon", "block: word 2 \"soon\" is not a number"},
        BadLine{"2026-12-08 18:59:59 busy \"a\"", "the clock goes back, to 2026-12-08 18:59:59"},
        BadLine{"2026-12-08 19:00:06 call 0 \"b\"",
                "call on channel 0, which holds a call already"},
        BadLine{"2026-12-08 19:00:06 hangup 1 \"bob\"", "hangup on channel 1, which holds no call"},
        BadLine{"2026-12-08 19:00:06 logon 2 \"bob\" accepted",
                "logon on channel 2, which holds no call"},
        BadLine{"2026-12-08 19:00:06 board 4 10 \"/b\"", "a board line after the first call"},
        BadLine{"2026-12-08 19:00:06 board 4 1G \"/b\"",
                "board: word 2 \"1G\" is not a hexadecimal number"},
        BadLine{"2026-12-08 19:00:06 board 4 10", "board takes 3 words, not 2"},
        BadLine{"2026-12-08 19:00:06 delay \"bob\" 2026-12-08 18:30:00",
                "a delay line not right after the board line"}));

TEST(BoardTrace, EveryBadLineInOnePass) {
  const std::string text = std::string(kHead) +
                           "junk\n"
                           "2026-12-08 19:00:06 logon 0 \"bob\" accepted\n"
                           "2026-12-08 19:00:07 dance\n";
  const sim::Evening e = sim::readBoardTrace("t.trace", text);
  ASSERT_EQ(e.errors.size(), 2u);
  EXPECT_EQ(e.errors[0].substr(0, 10), "t.trace:3:");
  EXPECT_EQ(e.errors[1].substr(0, 10), "t.trace:5:");
}

TEST(BoardTrace, ASimulatorsTraceIsRefused) {
  const sim::Evening e = sim::readBoardTrace("sim.trace",
                                             "2024-03-15 20:00:00 register 0 \"Zor Gaval\"\n"
                                             "2024-03-15 20:00:00 logon 0 \"Sysop Sam\" accepted\n"
                                             "2024-03-15 20:30:00 hangup 0 \"Sysop Sam\"\n");
  ASSERT_EQ(e.errors.size(), 1u);
  EXPECT_NE(e.errors[0].find("sim.trace: no call lines: the replay needs a board's trace"),
            std::string::npos);
}

// The reader and the writer share the events' shapes: every kind, read
// back and written again, is the same line, the board's optional words too.
TEST(BoardTrace, EveryKindReadsBackAsWritten) {
  for (const char* line : {
           R"(2026-12-08 19:00:00 register 0 "Zor Gaval")",
           R"(2026-12-08 19:00:00 board 6 1A "/srv/bbs")",
           R"(2026-12-08 19:00:00 delay "Old One" 2026-00-31 31:63:62)",
           R"(2026-12-08 19:00:01 call 0 "127.0.0.1:4000")",
           R"(2026-12-08 19:00:01 call 1 "wss [::1]:4001")",
           R"(2026-12-08 19:00:02 logon 0 "kim" accepted)",
           R"(2026-12-08 19:00:02 logon 1 "lee" rejected "::1")",
           R"(2026-12-08 19:00:02 connect 2 "pat")",
           R"(2026-12-08 19:00:03 deliver 0 "\a\r\nbye\x7f")",
           R"(2026-12-08 19:00:03 audit "Gaval bumped a user" "User-ID: kim")",
           R"(2026-12-08 19:00:03 hangup 0 "kim")",
           R"(2026-12-08 19:00:04 wrong 1 "lee" "::1")",
           R"(2026-12-08 19:00:04 wrong ssh "lee" "10.0.0.1")",
           R"(2026-12-08 19:00:04 unknown console "x" "::1")",
           R"(2026-12-08 19:00:04 block "10.0.0.1" 600)",
           R"(2026-12-08 19:00:05 blocked "console ::1" 3)",
           R"(2026-12-08 19:00:05 blocked "ssh 10.0.0.1:22")",
           R"(2026-12-08 19:00:05 toomany "10.0.0.2:9")",
           R"(2026-12-08 19:00:05 toomany "web 10.0.0.2:9" 4)",
           R"(2026-12-08 19:00:05 busy "ws 10.0.0.3:9")",
           R"(2026-12-08 19:00:06 nosignup "10.0.0.4:9")",
           R"(2026-12-08 19:00:06 newuser 3 "new one")",
           R"-(2026-12-08 19:00:06 timeout 3 "(Login)")-",
           R"(2026-12-08 19:00:06 overflow 3 "10.0.0.5:9")",
           R"(2026-12-08 19:00:06 garbled 3 "10.0.0.5:9")",
           R"(2026-12-08 19:00:07 pardon "kim" by "Sysop")",
           R"(2026-12-08 19:00:07 unblock "10.0.0.1" by ctl)",
           R"(2026-12-08 19:00:07 say "back at ten" by ctl)",
           R"(2026-12-08 19:00:07 kick 3 by ctl)",
           R"(2026-12-08 19:00:07 carry 2 "rlogin:127.0.0.1:513")",
           R"(2026-12-08 19:00:07 nobehind 2 "Connection refused")",
           R"(2026-12-08 19:00:08 reload fail-limit web-tls)",
           R"(2026-12-08 19:00:08 reload unchanged)",
           R"(2026-12-08 19:00:08 warning "a \"text\" \\")",
           R"(2026-12-09 00:00:00 cleanup)",
           R"(2026-12-09 00:00:01 shutdown)",
       }) {
    const hostprog::ReadEvent r = hostprog::readEvent(line);
    ASSERT_TRUE(r.event) << line << ": " << r.error;
    EXPECT_EQ(simhost::traceLine(*r.event), line);
  }
}

// The board's opening lines: its channels, numbering and directory, and the
// delay records stored at its start (a stored stamp as it is, seconds odd
// or not); each only once, at the start, and well formed.
TEST(BoardTrace, TheBoardsOpeningLines) {
  const std::string opening =
      "2026-12-08 19:00:00 board 6 1A \"/srv/bbs\"\n"
      "2026-12-08 19:00:00 delay \"erin\" 2026-12-08 18:40:02\n"
      "2026-12-08 19:00:00 delay \"Old One\" 2026-00-31 31:63:62\n";
  const std::string call = "2026-12-08 19:00:01 call 0 \"a:1\"\n";
  const sim::Evening e = sim::readBoardTrace("t.trace", opening + call);
  ASSERT_TRUE(e.errors.empty()) << e.errors[0];
  EXPECT_EQ(e.channels, 6);  // not the one channel the calls show
  EXPECT_EQ(e.firstNumber, 0x1Au);
  EXPECT_EQ(e.dir, "/srv/bbs");
  ASSERT_EQ(e.delays.size(), 2u);
  EXPECT_EQ(e.delays[0].userid, "erin");
  EXPECT_EQ(e.delays[0].date, (46 << 9) | (12 << 5) | 8);
  EXPECT_EQ(e.delays[0].time, (18 << 11) | (40 << 5) | 1);
  EXPECT_EQ(e.delays[1].date, (46 << 9) | 31);
  EXPECT_EQ(e.delays[1].time, 0xFFFF);

  struct Row {
    std::string text, error;
  };
  const std::string board = "2026-12-08 19:00:00 board 6 1A \"/srv/bbs\"\n";
  for (const Row& r : std::vector<Row>{
           {board + board + call, "t.trace:2: a second board line"},
           {board + "2026-12-08 19:00:00 delay \"x\" 2026-12-08\n" + call,
            "t.trace:2: delay: no stored stamp \"YYYY-MM-DD HH:MM:SS\" after the user-id"},
           {board + "2026-12-08 19:00:00 delay \"x\" 2026-12-08 18:40:01\n" + call,
            "t.trace:2: delay: no stored stamp \"YYYY-MM-DD HH:MM:SS\" after the user-id"},
           {"2026-12-08 19:00:00 delay \"x\" 2026-12-08 18:40:00\n" + call,
            "t.trace:1: a delay line not right after the board line"},
           {"2026-12-08 19:00:00 board 0 00 \"/b\"\n" + call,
            "t.trace:1: board: 0 is not a channel count (1 to 256)"},
           {"2026-12-08 19:00:00 board 2 FFFFFFFF \"/b\"\n" + call,
            "t.trace:1: board: the channel numbers from FFFFFFFF pass FFFFFFFF"},
           {"2026-12-08 19:00:00 board 1 00 \"/b\"\n" +
                std::string("2026-12-08 19:00:01 call 1 \"a:1\"\n") + call,
            "t.trace:2: call on channel 1, past the board's 1"}}) {
    const sim::Evening bad = sim::readBoardTrace("t.trace", r.text);
    ASSERT_EQ(bad.errors.size(), 1u) << r.text;
    EXPECT_EQ(bad.errors[0], r.error);
  }
}

// A quit, a time-out, a bump (the module delivered to him in the same
// run of its lines), a refusal (the hang-up right after the rejection) and
// a wrong password (no hang-up after it: the board asks again).
TEST(BoardTrace, HangUpsSorted) {
  const sim::Evening e =
      sim::readBoardTrace("t.trace",
                          "2026-12-08 19:00:00 register 0 \"Zor Gaval\"\n"
                          "2026-12-08 19:00:01 call 0 \"a:1\"\n"
                          "2026-12-08 19:00:02 logon 0 \"quitter\" accepted\n"
                          "2026-12-08 19:00:03 call 1 \"a:2\"\n"
                          "2026-12-08 19:00:09 timeout 1 \"(Login)\"\n"
                          "2026-12-08 19:00:09 hangup 1 \"(Login)\"\n"
                          "2026-12-08 19:00:10 call 1 \"a:3\"\n"
                          "2026-12-08 19:00:11 logon 1 \"bumped\" accepted\n"
                          "2026-12-08 19:01:00 deliver 1 \"bye\"\n"
                          "2026-12-08 19:01:00 audit \"Gaval bumped a user\" \"User-ID: bumped\"\n"
                          "2026-12-08 19:01:00 hangup 1 \"bumped\"\n"
                          "2026-12-08 19:01:00 hangup 0 \"quitter\"\n"
                          "2026-12-08 19:01:05 call 0 \"a:4\"\n"
                          "2026-12-08 19:01:06 logon 0 \"bumped\" rejected\n"
                          "2026-12-08 19:01:06 hangup 0 \"bumped\"\n"
                          "2026-12-08 19:01:07 call 0 \"a:5\"\n"
                          "2026-12-08 19:01:08 logon 0 \"typo\" rejected\n"
                          "2026-12-08 19:01:09 logon 0 \"typo\" accepted\n"
                          "2026-12-08 19:02:00 shutdown\n"
                          "2026-12-08 19:02:00 hangup 0 \"typo\"\n");
  ASSERT_TRUE(e.errors.empty()) << e.errors[0];
  ASSERT_EQ(e.calls.size(), 5u);
  EXPECT_EQ(e.channels, 2);
  EXPECT_EQ(e.end, e.start + 120);
  const sim::Call &quitter = e.calls[0], &timedOut = e.calls[1], &bumped = e.calls[2],
                  &refused = e.calls[3], &typo = e.calls[4];
  ASSERT_TRUE(quitter.departure && !quitter.departure->timedOut);
  EXPECT_EQ(quitter.departure->at, e.start + 60);
  ASSERT_TRUE(timedOut.departure && timedOut.departure->timedOut);
  EXPECT_TRUE(bumped.endedByModule && !bumped.departure);
  EXPECT_TRUE(refused.endedByModule && !refused.departure);
  EXPECT_EQ(refused.attempts.at(0).kind, sim::Attempt::Kind::Password);
  ASSERT_EQ(typo.attempts.size(), 2u);
  EXPECT_EQ(typo.attempts[0].kind, sim::Attempt::Kind::BadPassword);
  EXPECT_FALSE(typo.departure);  // still on at the shutdown
}

}  // namespace
