// Users and keys: key look-ups ignoring case (the empty key held by
// nobody), uhskey for users not on line, onsysn's choice of channel, and
// the user-id and text helpers.
#include <cstring>

#include "core_host.h"
#include "simhost/internal.h"
#include "simhost/text.h"

class CoreUsers : public CoreHost {
 protected:
  void SetUp() override {
    CoreHost::SetUp();
    simhost::setAccount("Alice", {"VIP", "Sysop"}, false);
    simhost::setAccount("Dave", {}, true);
  }
};

TEST_F(CoreUsers, KeysIgnoreCaseAndTheEmptyKeyIsHeldByNobody) {
  simhost::Arrival a;
  a.channel = 1;
  a.userid = "alice";
  ASSERT_EQ(simhost::connect(a), "");
  const struct {
    const char* key;
    int held;
  } cases[] = {{"vip", 1},       {"SYSOP", 1}, {"Vip", 1},  {"VI", 0},
               {"VIP,Sysop", 0}, {"", 0},      {"guest", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(haskey(c.key), c.held) << c.key;
    EXPECT_EQ(uhskey("ALICE", c.key), c.held) << c.key;
  }
  ASSERT_EQ(onsysn("ALICE", 1), 1);
  EXPECT_EQ(othkey("sysop"), 1);
  EXPECT_EQ(othkey(""), 0);

  simhost::logoff(1);
  EXPECT_EQ(uhskey("Alice", "vip"), 1);  // not on line: read from the file
  EXPECT_EQ(uhskey("Dave", ""), 0);
  EXPECT_EQ(uhskey("Nobody", "vip"), 0);
  EXPECT_EQ(uhskey("", "vip"), 0);
}

// The look-up goes through the account file and back: whatever data file
// the module had made current is current again afterwards.
TEST_F(CoreUsers, UhskeyLeavesTheModulesCurrentFileCurrent) {
  HostDataFile* delays = dfaOpen("zorgaval.dat", 34, 0);
  dfaSetBlk(delays);
  EXPECT_EQ(uhskey("Alice", "vip"), 1);
  unsigned char record[34] = "Erin";
  dfaInsert(record);
  dfaRstBlk();
  ASSERT_EQ(simhost::allRecords(delays).size(), 1u);
  for (const auto& r : simhost::allRecords(accbb)) {
    EXPECT_NE(std::string(reinterpret_cast<const char*>(r.data())), "Erin");
  }
}

TEST_F(CoreUsers, AccountFlagsAndRefusedAccounts) {
  simhost::Arrival a;
  a.channel = 0;
  a.userid = "dave";
  ASSERT_EQ(simhost::connect(a), "");
  EXPECT_STREQ(usaptr->userid, "Dave");
  EXPECT_EQ(usaptr->flags220 & ACCOUNT_NOCOUNT, ACCOUNT_NOCOUNT);
  EXPECT_THROW(simhost::setAccount("Eve", {std::string(190, 'k')}, false), simhost::Fatal);
  EXPECT_THROW(simhost::setAccount("Eve", {"a,b"}, false), simhost::Fatal);
  EXPECT_THROW(simhost::setAccount(std::string(30, 'e'), {}, false), simhost::Fatal);
  simhost::setAccount("Eve", {std::string(189, 'k')}, false);  // just fits
}

TEST_F(CoreUsers, OnsysnFindsTheLowestFittingChannel) {
  ASSERT_EQ(simhost::occupy(1, 1, "Bob"), "");
  ASSERT_EQ(simhost::occupy(3, 6, "bob"), "");
  ASSERT_EQ(simhost::occupy(5, 2, "BOB"), "");
  ASSERT_EQ(simhost::occupy(6, 2, "Carl"), "");
  ASSERT_EQ(simhost::occupy(7, 4, ""), "");
  const struct {
    const char* id;
    int signedOnOnly, found, channel;
  } cases[] = {
      {"Bob", 1, 1, 3}, {"BoB", 0, 1, 1}, {"carl", 1, 1, 6}, {"Carol", 1, 0, -1}, {"", 0, 0, -1}};
  for (const auto& c : cases) {
    othusn = -1;
    EXPECT_EQ(onsysn(c.id, c.signedOnOnly), c.found) << c.id;
    EXPECT_EQ(othusn, c.channel) << c.id;
    if (c.found) {
      EXPECT_EQ(othusp, usroff(c.channel));
      EXPECT_EQ(othuap, uacoff(c.channel));
    }
  }
}

TEST(CoreText, UserIdCharactersAndSameas) {
  const struct {
    char c;
    bool allowed;
  } chars[] = {{'a', true},     {'Z', true},     {'0', true},     {'!', true},     {'~', true},
               {'[', true},     {' ', false},    {'(', false},    {')', false},    {'\t', false},
               {'\x1f', false}, {'\x7f', false}, {'\x80', false}, {'\xe9', false}, {'\0', false}};
  for (const auto& row : chars) {
    EXPECT_EQ(isuidc(row.c) != 0, row.allowed) << int(static_cast<unsigned char>(row.c));
  }
  EXPECT_TRUE(sameas("Zor Gaval", "zOR gAVAL"));
  EXPECT_FALSE(sameas("Zor", "Zor "));
  EXPECT_FALSE(sameas("\xc9t\xe9", "\xe9t\xe9"));  // only ASCII letters fold
  EXPECT_FALSE(sameas("[", "{"));
}

// The trace's quoting read back gives every byte but NUL again; a text
// never holds a NUL, so \x00 is refused rather than read.
TEST(CoreText, UnquoteIsTheInverseOfQuote) {
  namespace text = simhost::text;
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  const std::string quoted = text::quote(all);
  const text::Unquoted back = text::unquote(quoted, 0, true);
  EXPECT_EQ(back.fault, text::QuoteFault::None);
  EXPECT_EQ(back.text, all);
  EXPECT_EQ(back.end, quoted.size());
  EXPECT_EQ(text::unquote("x \"a\\x00\"", 2, false).fault, text::QuoteFault::NulEscape);
  const text::Unquoted raw = text::unquote("\"a\x1b\"", 0, true);
  EXPECT_EQ(raw.fault, text::QuoteFault::RawControl);
  EXPECT_EQ(raw.at, 2u);
  EXPECT_EQ(text::unquote("\"a\x1b\"", 0, false).text, "a\x1b");
}

// Ordering ignores ASCII case only, and compares bytes unsigned: an
// accented id sorts after every ASCII one.
TEST(CoreText, OrderIgnoringCase) {
  namespace text = simhost::text;
  EXPECT_TRUE(text::lessFolded("apple", "BANANA"));
  EXPECT_FALSE(text::lessFolded("Apple", "apple"));
  EXPECT_TRUE(text::lessFolded("zed", "\xc3\xa9t\xc3\xa9"));
}

TEST(CoreText, CopiesStayInsideTheirBuffers) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  const std::string path(100, 'p');
  fileparts(1, path.c_str(), buffer, 64);
  EXPECT_EQ(std::string(buffer), path.substr(0, 63));
  std::memset(buffer, '#', sizeof buffer);
  fileparts(1, "logs/ZORGAVAL.LOG", buffer, 64);
  EXPECT_STREQ(buffer, "logs/ZORGAVAL.LOG");
  fileparts(1, "x", buffer, 0);
  EXPECT_EQ(buffer[0], 'l');
  char small[4] = {'#', '#', '#', '#'};
  stzcpy(small, "abcdef", 3);
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(small[3], '#');
}

// Accounts set up before start are written together; by the time the
// module starts (or the host closes without one) they are in the file, so
// a restarted host on the same directory still knows them.
TEST_F(CoreUsers, AccountsSetUpBeforeStartOutliveTheHost) {
  for (bool started : {true, false}) {
    const std::string id = started ? "Frank" : "Grace";
    simhost::setAccount(id, {"Demo"}, false);
    if (started) simhost::start([] {});
    simhost::Setup again;
    again.dir = std::filesystem::current_path().string();
    simhost::close();
    simhost::reset(again);
    EXPECT_EQ(uhskey(id.c_str(), "demo"), 1) << id;
    EXPECT_EQ(uhskey("Alice", "vip"), 1) << id;
  }
}

// The one date reader behind the scenario's clock and at and the board's
// --clock: the form, the calendar (leap years by the Gregorian rule) and the
// years a packed date holds, each told apart.
TEST(CoreText, DatesReadAsTheCalendarHasThem) {
  using simhost::text::DateFault;
  const struct {
    const char* text;
    DateFault fault;
  } rows[] = {
      {"2026-12-09", DateFault::None},        {"2024-02-29", DateFault::None},
      {"2000-02-29", DateFault::None},        {"1980-01-01", DateFault::None},
      {"2107-12-31", DateFault::None},        {"2100-02-29", DateFault::NotCalendar},
      {"2027-02-29", DateFault::NotCalendar}, {"2026-13-01", DateFault::NotCalendar},
      {"2026-04-31", DateFault::NotCalendar}, {"2026-00-10", DateFault::NotCalendar},
      {"1979-12-31", DateFault::OutOfRange},  {"2108-01-01", DateFault::OutOfRange},
      {"2026-1-09", DateFault::Form},         {"2026/12/09", DateFault::Form},
      {"2026-12-0x", DateFault::Form},        {"", DateFault::Form},
  };
  for (const auto& row : rows) {
    simhost::text::CalendarDate d;
    EXPECT_EQ(simhost::text::readDate(row.text, &d), row.fault) << row.text;
  }
  simhost::text::CalendarDate d;
  simhost::text::TimeOfDay t;
  EXPECT_TRUE(simhost::text::readDateTime("2024-02-29 23:59:59", &d, &t));
  EXPECT_EQ(d.day * 100 + t.second, 2959);
  EXPECT_FALSE(simhost::text::readDateTime("2024-02-29 24:00:00", &d, &t));
  EXPECT_FALSE(simhost::text::readDateTime("2024-02-29T23:59:59", &d, &t));
  EXPECT_FALSE(simhost::text::readDateTime("2023-02-29 12:00:00", &d, &t));
}
