// A host's life around the module: start-up and registration, option
// errors stopping the start, messages and audit entries with their format
// warnings, the stored delays read back in order, and shutdown.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core_host.h"
#include "simhost/internal.h"

namespace {

void shutdownSlot() { simhost::trace("slot9"); }

ModuleRecord module = [] {
  ModuleRecord m{};
  std::strcpy(m.description, "Life \"test\"");
  m.shutdown = shutdownSlot;
  return m;
}();

void goodInit() {
  register_module(&module);
  opnmsg("zorgaval.mcv");
}
void badInit() {
  simhost::optionError("zorgaval.mcv: option 19 is missing");
  simhost::optionError("zorgaval.mcv:7: option 16: \"fast\" is not a decimal number");
}
void talks() {
  othusn = 2;
  prfmsg(35, 5);  // "%d left, %s": the text has no argument
  injoth();
  prfmsg(36);
  injoth();
}

}  // namespace

class CoreLife : public CoreHost {
 protected:
  void SetUp() override {
    CoreHost::SetUp();
    std::ofstream("zorgaval.mcv") << "35 = \"%d left, %s\"\n";
  }
};

TEST_F(CoreLife, StartRegistersTheModule) {
  simhost::start(goodInit);
  EXPECT_EQ(take(), (std::vector<std::string>{"register 0 \"Life \\\"test\\\"\""}));
  EXPECT_EQ(simhost::registered(), &module);
}

TEST_F(CoreLife, OptionErrorsStopTheStartAllAtOnce) {
  try {
    simhost::start(badInit);
    FAIL() << "start returned";
  } catch (const simhost::Fatal& e) {
    EXPECT_EQ(e.status, 2);
    EXPECT_STREQ(e.what(),
                 "zorgaval.mcv: option 19 is missing\n"
                 "zorgaval.mcv:7: option 16: \"fast\" is not a decimal number");
  }
}

TEST_F(CoreLife, MessagesAndAuditEntriesWarnAboutEachBadConversion) {
  simhost::start(goodInit);
  take();
  rtkick(0, talks);
  simhost::advanceTo(simhost::clock());
  const auto ev = take();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_NE(ev[0].find("zorgaval.mcv: message 35: "), std::string::npos) << ev[0];
  EXPECT_NE(ev[0].find("%s"), std::string::npos) << ev[0];
  EXPECT_EQ(ev[1], "deliver 2 \"5 left, %s\"");
  EXPECT_NE(ev[2].find("message 36 is missing"), std::string::npos) << ev[2];

  shocst("Zor Gaval Error", "Cannot open %s for output", "logs/x.log");
  shocst("Bumped", "%d users", "many");
  const auto audit = take();
  ASSERT_EQ(audit.size(), 3u);
  EXPECT_EQ(audit[0], "audit \"Zor Gaval Error\" \"Cannot open logs/x.log for output\"");
  EXPECT_EQ(audit[1].rfind("warning \"audit detail of Bumped: %d", 0), 0u) << audit[1];
  EXPECT_EQ(audit[2], "audit \"Bumped\" \"%d users\"");
}

TEST_F(CoreLife, StoredRecordsComeBackOrderedIgnoringCase) {
  EXPECT_TRUE(simhost::storedRecords("keyed.dat", 34).empty());  // and no file is made
  EXPECT_FALSE(std::filesystem::exists("keyed.dat"));
  HostDataFile* file = dfaOpen("keyed.dat", 34, 0);
  dfaSetBlk(file);
  const struct {
    const char* id;
    std::uint16_t date, time;
  } stored[] = {{"bob", 0x5861, 0x1234}, {"Alice", 1, 2}, {"Carl", 0xffff, 0}};
  for (const auto& s : stored) {
    unsigned char record[34] = {};
    std::strcpy(reinterpret_cast<char*>(record), s.id);
    record[30] = s.date & 0xff;
    record[31] = s.date >> 8;
    record[32] = s.time & 0xff;
    record[33] = s.time >> 8;
    dfaInsert(record);
  }
  dfaRstBlk();
  const auto got = simhost::storedRecords("keyed.dat", 34);
  ASSERT_EQ(got.size(), 3u);
  const char* const order[] = {"Alice", "bob", "Carl"};
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].size(), 34u);
    EXPECT_STREQ(reinterpret_cast<const char*>(got[i].data()), order[i]);
  }
  EXPECT_EQ(got[1][30] | got[1][31] << 8, 0x5861);
  EXPECT_EQ(got[1][32] | got[1][33] << 8, 0x1234);
}

TEST_F(CoreLife, ShutdownIsTheLastEvent) {
  simhost::start(goodInit);
  take();
  simhost::shutdown();
  simhost::shutdown();
  EXPECT_EQ(take(), (std::vector<std::string>{"shutdown", "slot9"}));
  simhost::Arrival a;
  a.userid = "Late";
  EXPECT_EQ(simhost::logon(a), "the host has shut down");
}
