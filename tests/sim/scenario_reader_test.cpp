// The scenario reader: what good files turn into, and the exact error line
// each kind of bad line gets, so that a malformed scenario never runs.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "sim/scenario.h"

namespace {

using sim::Command;
using sim::readScenario;
using sim::Verb;

std::string stamp(const sim::Date* d, const sim::TimeOfDay& t) {
  std::string out;
  if (d != nullptr)
    out = std::to_string(d->year) + "-" + std::to_string(d->month) + "-" + std::to_string(d->day) +
          " ";
  return out + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
         std::to_string(t.second);
}

// A compact picture of a command list, so a table row can state it whole.
std::string describe(const std::vector<Command>& commands) {
  std::string out;
  for (const Command& c : commands) {
    if (!out.empty()) out += " | ";
    out += std::to_string(c.line) + ":";
    switch (c.verb) {
      case Verb::Clock: {
        const auto& a = std::get<sim::ClockArgs>(c.args);
        out += "clock " + stamp(&a.date, a.time);
        break;
      }
      case Verb::Channels: {
        const auto& a = std::get<sim::ChannelsArgs>(c.args);
        out += "channels " + std::to_string(a.count) + " first " + std::to_string(a.firstNumber);
        break;
      }
      case Verb::Channel: {
        const auto& a = std::get<sim::ChannelArgs>(c.args);
        out += "channel " + std::to_string(a.channel) + "=" + std::to_string(a.number);
        break;
      }
      case Verb::Account: {
        const auto& a = std::get<sim::AccountArgs>(c.args);
        out += "account [" + a.userid + "]";
        for (const auto& k : a.keys) out += " key[" + k + "]";
        if (a.nocount) out += " nocount";
        break;
      }
      case Verb::Logon:
      case Verb::Connect: {
        const auto& a = std::get<sim::ArrivalArgs>(c.args);
        out += std::string(c.verb == Verb::Logon ? "logon " : "connect ") +
               std::to_string(a.channel) + " [" + a.userid + "] usage " + std::to_string(a.usage) +
               " status " + std::to_string(a.status);
        if (a.notally) out += " notally";
        if (a.directend) out += " directend";
        if (a.badpassword) out += " badpassword";
        break;
      }
      case Verb::Occupy: {
        const auto& a = std::get<sim::OccupyArgs>(c.args);
        out += "occupy " + std::to_string(a.channel) + " " + std::to_string(a.status) + " [" +
               a.userid + "]";
        break;
      }
      case Verb::Logoff:
        out += "logoff " + std::to_string(std::get<sim::LogoffArgs>(c.args).channel);
        break;
      case Verb::Set: {
        const auto& a = std::get<sim::SetArgs>(c.args);
        out += "set " + std::to_string(a.channel) + " field " +
               std::to_string(static_cast<int>(a.field)) + " = " + std::to_string(a.value);
        break;
      }
      case Verb::Wait:
        out += "wait " + std::to_string(std::get<sim::WaitArgs>(c.args).seconds);
        break;
      case Verb::At: {
        const auto& a = std::get<sim::AtArgs>(c.args);
        out += "at " + stamp(a.date ? &*a.date : nullptr, a.time);
        break;
      }
      case Verb::Start:
        out += "start";
        break;
      case Verb::Cleanup:
        out += "cleanup";
        break;
      case Verb::Delays:
        out += "delays";
        break;
      case Verb::Shutdown:
        out += "shutdown";
        break;
      case Verb::Crash:
        out += "crash";
        break;
    }
  }
  return out;
}

struct Good {
  const char* text;
  const char* expected;
};

TEST(ScenarioReader, ReadsGoodScenarios) {
  const Good cases[] = {
      // An empty file still starts (and, at run time, shuts down) the module.
      {"", "1:start"},
      {"# only a comment\n\n   \n", "4:start"},
      {"clock 2024-02-29 23:59:59\nchannels 4 1F\nchannel 3 0x10\nstart\n",
       "1:clock 2024-2-29 23:59:59 | 2:channels 4 first 31 | 3:channel 3=16 | 4:start"},
      // The first event starts the module implicitly, numbered with its line.
      {"account sam keys $2,A,b\nlogon 0 sam\n",
       "1:account [sam] key[$2] key[A] key[b] | 2:start | 2:logon 0 [sam] usage 0 status 6"},
      {"logon 31 \"Gus Guest\" usage -1 status 2 notally directend badpassword\n",
       "1:start | 1:logon 31 [Gus Guest] usage -1 status 2 notally directend badpassword"},
      {"connect 1 x directend usage 2147483647\n",
       "1:start | 1:connect 1 [x] usage 2147483647 status 6 directend"},
      {"occupy 4 1 \"(Login)\"\noccupy 5 3\noccupy 6 -7 \"\"\n",
       "1:start | 1:occupy 4 1 [(Login)] | 2:occupy 5 3 [] | 3:occupy 6 -7 []"},
      {"set 2 usage -5\nset 2 status 2\nset 2 notally on\nset 2 directend off\n",
       "1:start | 1:set 2 field 0 = -5 | 2:set 2 field 1 = 2 | 3:set 2 field 2 = 1 | "
       "4:set 2 field 3 = 0"},
      {"at 23:00:00\nat 2107-12-31 23:59:59\nwait 0\nwait 86400 # a day\n",
       "1:start | 1:at 23:0:0 | 2:at 2107-12-31 23:59:59 | 3:wait 0 | 4:wait 86400"},
      {"start\ncleanup\ndelays\ncrash\n", "1:start | 2:cleanup | 3:delays | 4:crash"},
      // Quoting: escapes, blanks, a # inside quotes, CR LF line ends.
      {"account \"a \\\"b\\\" \\\\ #\\x41\" nocount\r\nshutdown\r\n",
       "1:account [a \"b\" \\ #A] nocount | 2:start | 2:shutdown"},
      // 256 channels make index 255 valid; 29 characters fit.
      {"channels 256\nlogon 255 abcdefghijklmnopqrstuvwxyz123\n",
       "1:channels 256 first 0 | 2:start | 2:logon 255 [abcdefghijklmnopqrstuvwxyz123] usage 0 "
       "status 6"},
      // Bytes of 0x80 and above are ordinary in a bare word.
      {"logon 0 J\xc3\xb6rg\n", "1:start | 1:logon 0 [J\xc3\xb6rg] usage 0 status 6"},
  };
  for (const Good& g : cases) {
    sim::Scenario s = readScenario("t.scn", g.text);
    EXPECT_TRUE(s.errors.empty()) << g.text
                                  << "\nfirst error: " << (s.errors.empty() ? "" : s.errors[0]);
    EXPECT_EQ(describe(s.commands), g.expected) << g.text;
  }
}

struct Bad {
  std::string_view text;
  const char* error;  // the first error line expected
};

TEST(ScenarioReader, RefusesBadLinesWithFileLineAndValue) {
  const Bad cases[] = {
      {"logn 3 x\n", "t.scn:1: unknown command \"logn\""},
      {"\nlogon 3\n", "t.scn:2: logon needs a channel and a user-id"},
      {"logoff 3 4\n", "t.scn:1: extra word \"4\" after logoff"},
      {"start now\n", "t.scn:1: extra word \"now\" after start"},
      {"logon 32 x\n", "t.scn:1: channel index 32 is out of range: 32 channels, 0 to 31"},
      {"channels 4\nlogoff 4\n", "t.scn:2: channel index 4 is out of range: 4 channels, 0 to 3"},
      {"logon -1 x\n", "t.scn:1: channel index \"-1\" is not a decimal number"},
      {"logon 1x x\n", "t.scn:1: channel index \"1x\" is not a decimal number"},
      {"logon 0 abcdefghijklmnopqrstuvwxyz1234\n",
       "t.scn:1: user-id \"abcdefghijklmnopqrstuvwxyz1234\" is 30 characters long; at most 29 fit"},
      {"logon 0 \"\"\n", "t.scn:1: the user-id is empty"},
      {"logon 0 \"a\\x00b\"\n", "t.scn:1: bad escape \"\\\\x00\": a word holds no NUL byte"},
      {"logon 0 \"K\\x1b[2J\"\n", "t.scn:1: user-id \"K\\x1b[2J\" holds a control character"},
      {"occupy 4 1 \"a\\tb\"\n", "t.scn:1: user-id \"a\\tb\" holds a control character"},
      {"account \"\\x7f\"\n", "t.scn:1: user-id \"\\x7f\" holds a control character"},
      {"logon 0 x usage\n", "t.scn:1: usage needs a number"},
      {"logon 0 x usage 2147483648\n",
       "t.scn:1: usage \"2147483648\" is not a decimal number from -2147483648 to 2147483647"},
      {"logon 0 x status 0\n", "t.scn:1: status 0 would leave the channel free"},
      {"logon 0 x notally notally\n", "t.scn:1: unexpected word \"notally\" in logon"},
      {"connect 0 x badpassword\n", "t.scn:1: unexpected word \"badpassword\" in connect"},
      {"occupy 4 0\n", "t.scn:1: status 0 would leave the channel free"},
      {"occupy 4 1 a b\n", "t.scn:1: extra word \"b\" after occupy"},
      {"clock 1979-12-31 23:59:59\n",
       "t.scn:1: date \"1979-12-31\" is outside 1980-01-01 to 2107-12-31"},
      {"clock 2108-01-01 00:00:00\n",
       "t.scn:1: date \"2108-01-01\" is outside 1980-01-01 to 2107-12-31"},
      {"clock 2023-02-29 10:00:00\n", "t.scn:1: date \"2023-02-29\" is not a calendar date"},
      {"clock 2100-02-29 10:00:00\n", "t.scn:1: date \"2100-02-29\" is not a calendar date"},
      {"clock 2024-4-01 10:00:00\n", "t.scn:1: date \"2024-4-01\" is not of the form YYYY-MM-DD"},
      {"clock 2024-04-01 24:00:00\n",
       "t.scn:1: time \"24:00:00\" is not a time of day (00:00:00 to 23:59:59)"},
      {"at 10:60:00\n", "t.scn:1: time \"10:60:00\" is not a time of day (00:00:00 to 23:59:59)"},
      {"at 10:00\n", "t.scn:1: time \"10:00\" is not of the form HH:MM:SS"},
      {"clock 2024-04-01\n", "t.scn:1: clock needs a date and a time: clock YYYY-MM-DD HH:MM:SS"},
      {"wait -5\n", "t.scn:1: wait \"-5\" is not a number of seconds"},
      {"wait 99999999999999999999\n",
       "t.scn:1: wait \"99999999999999999999\" is not a number of seconds"},
      {"channels 0\n", "t.scn:1: channel count \"0\" is not a number from 1 to 256"},
      {"channels 257\n", "t.scn:1: channel count \"257\" is not a number from 1 to 256"},
      {"channels 2 FFFFFFFF\n", "t.scn:1: channel numbers from FFFFFFFF run past FFFFFFFF"},
      {"channel 0 G1\n",
       "t.scn:1: channel number \"G1\" is not a hexadecimal number of 1 to 8 digits"},
      {"set 0 speed 3\n",
       "t.scn:1: set has no field \"speed\"; the fields are usage, status, notally and directend"},
      {"set 0 notally yes\n", "t.scn:1: set notally takes on or off, not \"yes\""},
      {"set 0 usage\n",
       "t.scn:1: set needs a channel, a field and a value: set CH usage N, status S, notally "
       "on|off or directend on|off"},
      {"account x keys A,,B\n", "t.scn:1: empty key name in \"A,,B\""},
      {"account x keys $0\n",
       "t.scn:1: key \"$0\": $ must be followed by an option number, 1 to 9999"},
      {"account x keys $ab\n",
       "t.scn:1: key \"$ab\": $ must be followed by an option number, 1 to 9999"},
      {"account x keys\n", "t.scn:1: keys needs a list: keys KEY,KEY..."},
      {"account x colour red\n",
       "t.scn:1: unexpected word \"colour\" in account: keys KEY,KEY... and nocount may each "
       "come once"},
      // Quoting faults.
      {"logon 0 \"Gus\n", "t.scn:1: unclosed quote in \"logon 0 \\\"Gus\""},
      {"logon 0 \"a\\qb\"\n", "t.scn:1: bad escape \"\\\\q\" in a quoted word"},
      {"logon 0 \"a\\x4\"\n",
       "t.scn:1: bad escape \"\\\\x4\\\"\": \\x takes two hexadecimal digits"},
      {"logon 0 \"Gus\"x\n", "t.scn:1: text \"x\" straight after a closing quote"},
      {"logon 0 Gu\"s\n", "t.scn:1: bad character \"\\\"\" in the word \"Gu\\\"s\""},
      {"logon 0 a#b\n", "t.scn:1: bad character \"#\" in the word \"a#b\""},
      {"logon 0 a\x01"
       "b\n",
       "t.scn:1: bad character \"\\x01\" in the word \"a\\x01b\""},
      {std::string_view("logon 0 a\0b\n", 12), "t.scn:1: NUL byte in the line"},
      // Order rules.
      {"start\nclock 2024-01-01 00:00:00\n",
       "t.scn:2: clock comes after the module has started (line 1)"},
      {"logoff 0\naccount x\n", "t.scn:2: account comes after the module has started (line 1)"},
      {"start\nstart\n", "t.scn:2: start comes after the module has started (line 1)"},
      {"wait 1\nstart\n", "t.scn:2: start comes after the module has started (line 1)"},
      {"shutdown\nwait 1\n", "t.scn:2: nothing may follow shutdown (line 1)"},
      {"crash\ndelays\n", "t.scn:2: nothing may follow crash (line 1)"},
      {"shutdown\nshutdown\n", "t.scn:2: nothing may follow shutdown (line 1)"},
      {"clock 2024-01-01 00:00:00\nclock 2024-01-02 00:00:00\n",
       "t.scn:2: the clock is already set (line 1)"},
      {"channels 8\nchannels 9\n", "t.scn:2: the channels are already given (line 1)"},
      {"channel 3 10\nchannels 8\n",
       "t.scn:2: channels must come before any channel line (line 1)"},
  };
  for (const Bad& b : cases) {
    sim::Scenario s = readScenario("t.scn", b.text);
    ASSERT_FALSE(s.errors.empty()) << b.text;
    EXPECT_EQ(s.errors[0], b.error) << b.text;
  }
}

TEST(ScenarioReader, ReportsEveryBadLineOnce) {
  sim::Scenario s = readScenario("busy.scn",
                                 "logon 0 a\n"
                                 "logn 1 b\n"
                                 "logon 40 c\n"
                                 "logon 2 \"unclosed extra\n"
                                 "wait 5\n");
  ASSERT_EQ(s.errors.size(), 3u);
  EXPECT_EQ(s.errors[0], "busy.scn:2: unknown command \"logn\"");
  EXPECT_EQ(s.errors[1], "busy.scn:3: channel index 40 is out of range: 32 channels, 0 to 31");
  EXPECT_EQ(s.errors[2].rfind("busy.scn:4: unclosed quote", 0), 0u) << s.errors[2];
}

TEST(ScenarioReader, OptionReferences) {
  EXPECT_EQ(sim::optionReference("$4"), 4);
  EXPECT_EQ(sim::optionReference("$9999"), 9999);
  EXPECT_EQ(sim::optionReference("$10000"), 0);
  EXPECT_EQ(sim::optionReference("$"), 0);
  EXPECT_EQ(sim::optionReference("DEMO"), 0);
  EXPECT_EQ(sim::optionReference("$4a"), 0);
}

}  // namespace
