// Delay records in the host's real data file: the layout byte for byte,
// finding ignoring case, deleting, replacing, and damaged stamps.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "fixture.h"
#include "frame/state.h"
#include "hostprog/delays.h"
#include "store/delay_file.h"

namespace {

void setCandidate(const char* userid) {
  std::memset(moduleState.candidateId, 0, sizeof moduleState.candidateId);
  std::strcpy(moduleState.candidateId, userid);
}

TEST_F(ModuleTest, DelayRecordLayout) {
  Boot how;
  how.at = {2024, 3, 5, 19, 30, 7};
  boot(how);
  const char longest[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabc";  // 29 characters
  for (const char* userid : {"MixedCase", longest}) {
    setCandidate(userid);
    writeDelayRecord();
    DelayRecord found;
    std::memset(&found, 0xEE, sizeof found);
    const std::string upper = [&] {
      std::string u = userid;
      for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return u;
    }();
    dfaSetBlk(moduleState.delayFile);
    ASSERT_TRUE(lookUpDelayRecord(&found, upper.c_str())) << userid;
    dfaRstBlk();
    unsigned char expected[DELAY_RECORD_SIZE] = {};
    std::memcpy(expected, userid, std::strlen(userid));
    const PackedDate date = packDate(2024, 3, 5);
    const PackedTime time = packTime(19, 30, 6);
    expected[30] = date & 0xFF;
    expected[31] = date >> 8;
    expected[32] = time & 0xFF;
    expected[33] = time >> 8;
    EXPECT_EQ(std::memcmp(&found, expected, DELAY_RECORD_SIZE), 0) << userid;
    EXPECT_EQ(recordDate(found), date);
    EXPECT_EQ(recordTime(found), time);
  }
  const auto stored = hostprog::delays();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].userid, longest);
  EXPECT_EQ(stored[1].userid, "MixedCase");
}

TEST_F(ModuleTest, DelayRecordReplacedAndDeleted) {
  boot();
  setCandidate("Demo");
  writeDelayRecord();
  advance(10);
  writeDelayRecord();  // the newest delay wins
  auto stored = hostprog::delays();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].time, packTime(19, 0, 10));

  DelayRecord found;
  dfaSetBlk(moduleState.delayFile);
  EXPECT_FALSE(lookUpDelayRecord(&found, "Nobody"));
  dfaRstBlk();
  dfaSetBlk(moduleState.delayFile);
  ASSERT_TRUE(lookUpDelayRecord(&found, "demo"));
  deleteDelayRecord();
  dfaRstBlk();
  EXPECT_TRUE(hostprog::delays().empty());
}

// Writing puts the current data file back, and so does the look-up's
// caller: the account file selected before is still the one read after.
TEST_F(ModuleTest, DelayFileRestoresTheCurrentDataFile) {
  Boot how;
  how.accounts = {{"Demo", {"K0"}}};
  boot(how);
  setCandidate("Cand");  // on file in the delay file only, Demo in accounts only
  dfaSetBlk(accbb);
  writeDelayRecord();
  DelayRecord record;
  dfaSetBlk(moduleState.delayFile);
  EXPECT_FALSE(lookUpDelayRecord(&record, "Demo"));
  dfaRstBlk();
  AccountRecord account;
  EXPECT_TRUE(dfaAcqLock(&account, "Demo", 0, 5, 0));
  EXPECT_FALSE(dfaAcqLock(&account, "Cand", 0, 5, 0));
  dfaRstBlk();
}

// A stamp that is no calendar date comes from a damaged file: the record
// bars nobody and goes at the user's next attempt.
TEST_F(ModuleTest, DamagedStampIsOver) {
  boot();
  const int damaged[][2] = {{0, 5}, {13, 5}, {15, 5}, {3, 0}, {2, 30}};
  for (const auto& [month, day] : damaged) {
    DelayRecord raw{};
    std::strcpy(raw.userId, "Demo");
    const PackedDate bad = static_cast<PackedDate>(((2024 - 1980) << 9) | (month << 5) | day);
    raw.date[0] = bad & 0xFF;
    raw.date[1] = bad >> 8;
    raw.time[0] = 0;
    raw.time[1] = 0x98;  // 19:00:00
    dfaSetBlk(moduleState.delayFile);
    dfaInsert(&raw);
    dfaRstBlk();
    arrive(1, "Demo");
    EXPECT_EQ(count("logon 1 \"Demo\" accepted"), 1) << "month " << month << " day " << day;
    EXPECT_TRUE(hostprog::delays().empty()) << "month " << month << " day " << day;
    ASSERT_EQ(simhost::logoff(1), "");
    lines.clear();
  }
}

}  // namespace
