// The board's pure units: the telnet and line layer fed bytes as the
// network cuts them, the callers' character set, the talkers' pace, the
// host clock's scaling, the command line's refusals of bad values, the
// configuration file's lines and what a reload of it applies; the front
// door's RLogin wire and the gaps its words wait for.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "board/behind/gaps.h"
#include "board/behind/protocol.h"
#include "board/caller/charset.h"
#include "board/caller/talk_rate.h"
#include "board/caller/userid.h"
#include "board/core/config.h"
#include "board/core/live_clock.h"
#include "board/reload.h"
#include "board/telnet/telnet.h"

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
      {{"ab\x08"
        "c\x7f d\n"},
       {"a d"}},                         // backspace and delete
      {{"a\x1b[2Jb\n"}, {"a[2Jb"}},      // an escape byte dropped
      {{"al\xff\xf4ice\n"}, {"alice"}},  // IAC IP
      {{"a\xff\xfb\x01"
        "b\n"},
       {"ab"}},  // IAC WILL ECHO
      {{"a\xff\xfa\x18\x01",
        "x\xff\xf0"
        "b\n"},
       {"ab"}},  // a subnegotiation, split
      {{"a\xff\xff"
        "b\n"},
       {"a\xff"
        "b"}},                                           // IAC IAC is a data byte
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
  EXPECT_EQ(t.takeOutput(),
            "\xff\xfb\x01\xff\xfb\x03\xff\xfd\x1f");  // WILL ECHO, WILL SGA, DO NAWS
  t.receive("ab\r\n");
  EXPECT_EQ(t.takeOutput(), "") << "echo to a client that did not ask";
  t.receive("\xff\xfd\x01");  // DO ECHO
  t.receive(
      "ab\x7f"
      "c\r\n");
  EXPECT_EQ(t.takeOutput(), "ab\b \bc\r\n");
  t.setEcho(false);
  t.receive("secret\r\n");
  EXPECT_EQ(t.takeOutput(), "\r\n");
}

// The window's size, from NAWS on telnet and from the transport elsewhere;
// a subnegotiation of the wrong length leaves the size as it was.
TEST(TelnetLine, WindowFromNaws) {
  TelnetLine t;
  t.receive(std::string("\xff\xfb\x1f\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0", 12));
  EXPECT_EQ(t.window().columns, 80);
  EXPECT_EQ(t.window().rows, 24);
  t.receive(std::string("\xff\xfa\x1f\x01\x00\x00\xff\xf0", 8));
  EXPECT_EQ(t.window().columns, 80);
  t.receive(std::string("\xff\xfa\x1f\x01\x00\x00\x30\xff\xf0", 9));
  EXPECT_EQ(t.window().columns, 256);
  EXPECT_EQ(t.window().rows, 48);
  t.receive("hi\r");
  EXPECT_EQ(linesOf(t).at(0).text, "hi") << "no command reaches a line";
}

// A transport with no commands of its own: every byte is typing, echoed
// at once, and nothing is doubled on the way out.
TEST(PlainLine, EchoesAsTypedAndSendsAsIs) {
  board::PlainLine p;
  p.receive("ab\x7f\x1b[Ac\r");
  EXPECT_EQ(p.takeOutput(), "ab\b \b[Ac\r\n") << "escape dropped, the rest shown";
  Line line;
  ASSERT_TRUE(p.nextLine(&line));
  EXPECT_EQ(line.text, "a[Ac");
  p.setEcho(false);
  p.receive("pw\r\n");
  EXPECT_EQ(p.takeOutput(), "\r\n");
  p.send("\xff\r\n");
  EXPECT_EQ(p.takeOutput(), "\xff\r\n");
}

TEST(PlainLine, BackspaceTakesBackOneCharacterOfTheSet) {
  struct Row {
    bool utf8;
    const char* typed;
    const char* line;
  };
  const Row rows[] = {
      {true, "caf\xc3\xa9\x7f\r", "caf"},                  // two bytes, one character
      {true, "x\xe2\x82\xac\xf0\x9f\x98\x80\b\b\r", "x"},  // three and four bytes
      {true, "ab\x80\x7f\r", "ab"},                        // a stray continuation byte
      {false, "caf\x82\x7f\r", "caf"},                     // CP437: a byte is a character
      {false, "ab\xc3\xa9\x7f\r", "ab\xc3"},
  };
  for (const Row& r : rows) {
    board::PlainLine p;
    p.setUtf8(r.utf8);
    p.receive(r.typed);
    Line line;
    ASSERT_TRUE(p.nextLine(&line)) << r.typed;
    EXPECT_EQ(line.text, r.line) << r.typed;
  }
}

// The board offers no compression: a caller's COMPRESS2 start ends what
// is read, and what follows it is never inflated into lines.
TEST(TelnetLine, CompressionUnaskedIsNeverInflated) {
  // zlib's deflate of "alice\n" three times.
  const std::string deflated("\x78\x9c\x4b\xcc\xc9\x4c\x4e\xe5\x4a\x44\x22\x01\x3c\xab\x06\x19",
                             16);
  const std::string start = "bob\n\xff\xfa\x56\xff\xf0";        // IAC SB COMPRESS2 IAC SE
  const std::string brokenStart = "bob\n\xff\xfa\x56\xff\xf1";  // ended by another command
  const std::vector<std::vector<std::string>> cases = {
      {start + deflated},                                // in one read
      {start, deflated},                                 // the stream in the next read
      {start.substr(0, 7), start.substr(7) + deflated},  // IAC and SE split
      {brokenStart + deflated},
  };
  for (const auto& reads : cases) {
    TelnetLine t;
    for (const std::string& r : reads) t.receive(r);
    std::vector<std::string> got;
    for (const Line& l : linesOf(t)) got.push_back(l.text);
    EXPECT_EQ(got, std::vector<std::string>{"bob"}) << testing::PrintToString(reads);
    EXPECT_TRUE(t.failed()) << testing::PrintToString(reads);
  }
}

TEST(Charset, TypedTextKeptAsTheSet) {
  using board::Charset;
  struct Case {
    std::string typed;
    Charset set;
    bool cut;
    std::string kept;
  };
  const Case cases[] = {
      {"plain text", Charset::Utf8, false, "plain text"},
      {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", Charset::Utf8, false,
       "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},  // 2, 3 and 4 bytes
      {"a\x1b[2Jb\x7f", Charset::Utf8, false, "a[2Jb"},     // C0 and DEL dropped
      {"\x9b"
       "2J",
       Charset::Utf8, false, "?2J"},  // a raw C1 byte is no UTF-8
      {"\xc2\x9b"
       "2J\xc2\x9d"
       "0;t\xc2\x85",
       Charset::Utf8, false, "2J0;t"},                          // C1 as UTF-8
      {"\xc2\xa0", Charset::Utf8, false, "\xc2\xa0"},           // U+00A0, past the C1s
      {"caf\xe9!", Charset::Utf8, false, "caf?!"},              // Latin-1, not UTF-8
      {"\xc0\xaf\xe0\x80\xaf", Charset::Utf8, false, "?????"},  // overlong forms
      {"\xed\xa0\x80", Charset::Utf8, false, "???"},            // a surrogate
      {"\xf4\x90\x80\x80", Charset::Utf8, false, "????"},       // past U+10FFFF
      {"\xe2\x82x", Charset::Utf8, false, "??x"},               // broken inside
      {"ab\xe2\x82", Charset::Utf8, false, "ab??"},             // broken at the end
      {"ab\xe2\x82", Charset::Utf8, true, "ab"},                // ... by the cut
      {"ab\xff", Charset::Utf8, true, "ab?"},                   // no sequence opens so
      {"\x9b"
       "2J \xb0\xdb\xff",
       Charset::Cp437, false,
       "\x9b"
       "2J \xb0\xdb\xff"},  // glyphs
      {"a\x1b\x07"
       "b\x7f",
       Charset::Cp437, false, "ab"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(board::keepTyped(c.typed, c.set, c.cut), c.kept)
        << testing::PrintToString(c.typed) << (c.set == Charset::Utf8 ? " utf-8" : " cp437");
  }
}

TEST(Charset, TheSysopsTextAsTheCallersSet) {
  using board::Charset;
  EXPECT_EQ(board::sysopText("caf\xc3\xa9 \xe2\x96\x91", Charset::Cp437), "caf\x82 \xb0");
  EXPECT_EQ(board::sysopText("\xe2\x82\xac \xff", Charset::Cp437), "? ?");  // none in CP437
  EXPECT_EQ(board::sysopText("caf\xc3\xa9", Charset::Utf8), "caf\xc3\xa9");
}

TEST(TalkBucket, BurstThenRateWithOneNoticeASpell) {
  using V = board::TalkBucket::Verdict;
  using namespace std::chrono;
  const auto t0 = board::TalkBucket::Time{} + hours(1);
  board::TalkBucket b(board::TalkLimits{3, 2});  // a burst of 3, then 2 a second
  struct Row {
    milliseconds at;
    V verdict;
  };
  const Row rows[] = {
      {0ms, V::Pass},           {0ms, V::Pass},    {0ms, V::Pass},    // the burst
      {0ms, V::DropAndTell},    {100ms, V::Drop},  {400ms, V::Drop},  // told once
      {500ms, V::Pass},         {500ms, V::Drop},   // a token back each half second
      {1000ms, V::Pass},        {1000ms, V::Drop},  // still the same spell: not told again
      {2000ms, V::Pass},        {2000ms, V::Pass},  // two tokens back: not yet full
      {2000ms, V::Drop},                            // so not told again
      {4000ms, V::Pass},        {4000ms, V::Pass}, {4000ms, V::Pass},  // full: a new spell
      {4000ms, V::DropAndTell}, {3500ms, V::Drop},  // time going back gives nothing
  };
  for (const Row& r : rows) {
    EXPECT_EQ(b.take(t0 + r.at), r.verdict) << "at " << r.at.count() << " ms";
  }
}

TEST(UserId, TypedIdsTrimmedFoldedAndRefused) {
  struct Row {
    std::string typed;
    std::optional<std::string> kept;
  };
  const Row rows[] = {
      {"alice", "alice"},
      {"Gus Guest", "Gus Guest"},
      {"  Gus    Guest  ", "Gus Guest"},
      {"a b c", "a b c"},
      {"Kim (K) Demo", "Kim (K) Demo"},  // only the first character is the host's
      {"(Login)", std::nullopt},
      {" )x", std::nullopt},
      {"", std::nullopt},
      {"    ", std::nullopt},
      {"tab\there", std::nullopt},
      {"caf\xc3\xa9", std::nullopt},
      {std::string(29, 'x'), std::string(29, 'x')},
      {std::string(30, 'x'), std::nullopt},
      {"  " + std::string(29, 'x') + "  ", std::string(29, 'x')},
      {std::string(14, 'x') + "      " + std::string(14, 'y'),
       std::string(14, 'x') + " " + std::string(14, 'y')},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(board::userIdFromTyped(row.typed), row.kept) << row.typed;
    EXPECT_EQ(board::userIdProblem(row.typed).empty(), row.kept.has_value()) << row.typed;
  }
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

// The front door's words wait for a gap in the board behind's output: each
// row is the output so far, then where in the next piece a gap first comes
// (npos: none in it).
TEST(StreamGaps, WordsNeverInsideASequenceOrACharacter) {
  const std::size_t none = std::string::npos;
  const struct {
    std::string before, next;
    std::size_t gap;
  } rows[] = {
      {"plain", "more", 0},
      {"\x1b[3", "1mok", 2},         // a CSI ends at its final byte
      {"\x1b", "[?25h", 5},          // split after ESC
      {"\x1b]0;title", "\x07x", 1},  // an OSC ends at BEL
      {"\x1b]0;t\x1b", "\\x", 1},    // ... or at ESC backslash
      {"\x1b(", "Bx", 1},            // a charset designation
      {"\xe2\x82", "\xacx", 1},      // a UTF-8 character's last byte
      {"\xf0\x9f", "\x98", none},    // still one byte owed
      {"\xc3", "A", 1},              // a character cut short, seen so at A
      {"\x1bP1;2", "data", none},    // a DCS not ended yet
  };
  for (const auto& row : rows) {
    board::StreamGaps gaps;
    gaps.follow(row.before);
    EXPECT_EQ(gaps.atGap(), row.gap == 0) << testing::PrintToString(row.before);
    EXPECT_EQ(gaps.toGap(row.next), row.gap) << testing::PrintToString(row.before + row.next);
  }
}

// RLogin's window message, once the server asks by its urgent byte and
// again on each change, never before; the opening's four strings.
TEST(RLogin, OpeningAndTheWindowWhenAsked) {
  board::BehindTarget target;
  target.clientUser = board::UserField{false, "guest"};
  auto rlogin = board::rloginProtocol(target, "kim", board::Window{100, 40});
  rlogin->open();
  EXPECT_EQ(rlogin->takeForBehind(), std::string("\0guest\0kim\0xterm/38400\0", 23));
  rlogin->resized(board::Window{90, 30});
  EXPECT_EQ(rlogin->takeForBehind(), "");
  rlogin->fromBehind(std::string("\0hi", 3));
  EXPECT_EQ(rlogin->takeForCaller(), "hi");
  rlogin->urgent(0x80);
  EXPECT_EQ(rlogin->takeForBehind(), std::string("\xff\xffss\0\x1e\0\x5a\0\0\0\0", 12));
  rlogin->resized(board::Window{132, 50});
  EXPECT_EQ(rlogin->takeForBehind(), std::string("\xff\xffss\0\x32\0\x84\0\0\0\0", 12));
}

TEST(BoardCommandLine, BadValuesAreRefusedWithTheFlag) {
  const std::vector<std::vector<std::string>> bad = {
      {"--speed", "0"},
      {"--speed", "3601"},
      {"--channels", "257"},
      {"--channels", "x"},
      {"--listen", "1.2.3.4"},
      {"--listen", "::1:23"},
      {"--listen", "[::1]:65536"},
      {"--clock", "2026-02-30 10:00:00"},
      {"--clock", "1979-12-31 23:59:59"},
      {"--first", "XYZ"},
      {"--new-users", "A,,B"},
      {"--idle-timeout", "0"},
      {"--bogus"},
      {"--dir"},
      {"--signup-limit", "x"},
      {"--signup-limit", "1001"},
      {"--signup-limit"},
      {"extra"},
      {"--talk-rate", "10"},
      {"--talk-rate", "0/5"},
      {"--talk-rate", "10/1001"},
      {"--talk-rate", "/5"},
      {"--talk-rate", "10/5/1"},
      {"--charset", "latin1"},
      {"--charset", ""},
      {"--dir", "a", "--dir", "b"},
      {"--block-loopback", "--block-loopback"},
      {"--help=yes"},
      {"--ssh", "127.0.0.1"},
      {"--ssh", "[::1]:70000"},
      {"--listen", "none"},  // and no --ssh: nobody could call
      {"--behind", "ssh:host:22"},
      {"--behind", "rlogin:host"},
      {"--behind", "telnet::23"},
      {"--behind", "rlogin:host:0"},
      {"--behind", "telnet:host:65536"},
      {"--behind-user-fields", "userid"},
      {"--behind-user-fields", "password,userid"},
      {"--behind-user-fields", "text:,userid"},
      {"--behind-terminal", "vt 100"},
  };
  for (const auto& args : bad) {
    // The error names what is to blame: the flag, or the word not taken.
    const std::string error = board::parseConfig(args).error;
    const std::string flag = args[0].substr(0, args[0].find('='));
    EXPECT_NE(error.find(flag), std::string::npos) << testing::PrintToString(args) << ": " << error;
  }
  const auto good = board::parseConfig({"--listen", "[::1]:0", "--first", "1f", "--clock",
                                        "2024-02-29 23:59:59", "--signup-limit", "7"});
  ASSERT_EQ(good.error, "");
  EXPECT_EQ(good.config.listenHost, "::1");
  EXPECT_EQ(good.config.port, 0u);
  EXPECT_EQ(good.config.firstNumber, 0x1fu);
  EXPECT_EQ(good.config.throttle.signUps, 7);
  EXPECT_EQ(good.config.talk.burst, 10);
  EXPECT_EQ(good.config.talk.perSecond, 5);
  EXPECT_EQ(good.config.charset, board::Charset::Utf8);
  const auto set = board::parseConfig({"--talk-rate", "20/2", "--charset", "CP437"});
  ASSERT_EQ(set.error, "");
  EXPECT_EQ(set.config.talk.burst, 20);
  EXPECT_EQ(set.config.talk.perSecond, 2);
  EXPECT_EQ(set.config.charset, board::Charset::Cp437);
  const auto ssh = board::parseConfig({"--listen", "none", "--ssh", "[::1]:0", "--ssh-legacy"});
  ASSERT_EQ(ssh.error, "");
  EXPECT_FALSE(ssh.config.telnet);
  EXPECT_TRUE(ssh.config.ssh);
  EXPECT_EQ(ssh.config.sshHost, "::1");
  EXPECT_EQ(ssh.config.sshPort, 0u);
  EXPECT_TRUE(ssh.config.sshLegacy);
  EXPECT_FALSE(board::parseConfig({}).config.ssh);
  const auto door = board::parseConfig(
      {"--behind", "rlogin:[::1]:513", "--behind-user-fields", "text:guest,userid"});
  ASSERT_EQ(door.error, "");
  EXPECT_EQ(door.config.behind.name(), "rlogin:[::1]:513");
  EXPECT_EQ(door.config.behind.clientUser.of("kim"), "guest");
  EXPECT_EQ(door.config.behind.serverUser.of("kim"), "kim");
  // A board the browser alone reaches.
  const auto web = board::parseConfig({"--listen", "none", "--web", "127.0.0.1:0"});
  ASSERT_EQ(web.error, "");
  EXPECT_FALSE(web.config.telnet);
  EXPECT_TRUE(web.config.web.on());
}

// The configuration file: each good text's effect, each bad line's whole
// error after "FILE:" (its line number and the command line's own words).
TEST(BoardConfigFile, LinesReadAsTheFlagsOrRefusedWithTheirLine) {
  using C = const board::Config&;
  struct Case {
    const char* text;
    const char* error;   // "" for a good file
    bool (*holds)(C c);  // for a good file: its effect
  };
  const std::string dir = testing::TempDir();
  const Case cases[] = {
      {"# SSH\n\n  ssh = [::1]:2222  \r\n", "", [](C c) { return c.ssh && c.sshPort == 2222; }},
      {"clock = 2024-02-29 23:59:59\nblock-loopback\n", "",
       [](C c) { return c.clock.has_value() && c.throttle.includeLoopback; }},
      {"web = 127.0.0.1:0\nweb-tls = tls/a.pem \t b.pem\n", "",
       [](C c) {
         return c.webKey ==
                (std::filesystem::path(testing::TempDir()) / "b.pem").lexically_normal();
       }},
      {"ssh = [::]:22 # SSH\n",
       "1: --ssh: \"[::]:22 # SSH\" is not ADDR:PORT (e.g. 127.0.0.1:2323 or [::1]:2323)", nullptr},
      {"\n# c\nchannels = 999\n", "3: --channels: \"999\" is not a number from 1 to 256", nullptr},
      {"sshh = [::]:22\n", "1: unknown option \"--sshh=[::]:22\"", nullptr},
      {"block-loopback = yes\n", "1: --block-loopback takes no value", nullptr},
      {"ssh =\n", "1: --ssh needs a value", nullptr},
      {"listen\n", "1: --listen needs a value", nullptr},
      {"web-tls = only.pem\n", "1: --web-tls needs two values: CERT KEY (PEM files)", nullptr},
      {"web-tls = a b c\n", "1: unexpected word \"c\"", nullptr},
      {"idle-timeout = 5\n\nidle-timeout = 6\n", "3: idle-timeout is given again (first on line 1)",
       nullptr},
      {"config = other.conf\n", "1: \"config\" is for the command line only", nullptr},
      {"--ssh = [::]:22\n",
       "1: \"--ssh = [::]:22\" is not NAME = VALUE (a long flag's name without its --)", nullptr},
  };
  const std::string path = dir + "/board.conf";
  for (const Case& k : cases) {
    std::ofstream(path, std::ios::trunc) << k.text;
    board::Config c;
    const std::string error = board::readConfigFile(path, c);
    if (*k.error == '\0') {
      EXPECT_EQ(error, "") << k.text;
      EXPECT_TRUE(k.holds(c)) << k.text;
    } else {
      EXPECT_EQ(error, path + ":" + k.error) << k.text;
    }
  }
  // The command line wins over the file, which still gives the rest.
  std::ofstream(path, std::ios::trunc) << "idle-timeout = 5\nprompt-timeout = 7\n";
  const auto both = board::parseConfig({"--config", path, "--idle-timeout", "9"});
  ASSERT_EQ(both.error, "");
  EXPECT_EQ(both.config.idleSeconds, 9);
  EXPECT_EQ(both.config.promptSeconds, 7);
  std::remove(path.c_str());
  EXPECT_TRUE(board::parseConfig({"--config", path}).inFile);
}

// A reload applies what may change under calls and names the rest.
TEST(BoardReload, SettingsAppliedOrLeftForARestart) {
  struct Case {
    std::vector<std::string> args;  // the wanted settings, beside a running default board
    const char* applied;            // the flags a reload applies, then those it leaves
    const char* restart;
  };
  const Case cases[] = {
      {{"--web", "127.0.0.1:80", "--web-tls", "/a", "/b"}, "", "--web-tls --web"},
      {{"--talk-rate", "3/1", "--fail-limit", "9", "--console-key", "OP"},
       "--fail-limit --talk-rate --console-key",
       ""},
      {{"--listen", "[::]:23", "--channels", "8", "--idle-timeout", "60"},
       "--idle-timeout",
       "--listen --channels"},
  };
  const auto flags = [](const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  };
  for (const Case& k : cases) {
    const board::Config running, wanted = board::parseConfig(k.args).config;
    const board::ConfigChanges changes = board::compareConfigs(running, wanted);
    EXPECT_EQ(flags(changes.applied), k.applied) << testing::PrintToString(k.args);
    EXPECT_EQ(flags(changes.needRestart), k.restart) << testing::PrintToString(k.args);
    const board::Config next = board::reloadable(running, wanted);
    EXPECT_TRUE(board::compareConfigs(next, wanted).applied.empty())
        << testing::PrintToString(k.args);
    EXPECT_EQ(next.port, running.port);
    EXPECT_EQ(next.channels, running.channels);
  }
}

}  // namespace
