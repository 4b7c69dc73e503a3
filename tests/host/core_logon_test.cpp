// The two routes in: the password route (check through chkpsw, the logon
// line before any hang-up, slot 1 only on acceptance, a refused visit ended
// once) and the connect route (hooks, no check, no slot 1).
#include <cstring>

#include "core_host.h"
#include "simhost/internal.h"

namespace {

PasswordCheck savedCheck;
bool checkEndsVisit;

std::string who() {
  return "usrnum=" + std::to_string(usrnum) + " status=" + std::to_string(usrptr->status) +
         " usage=" + std::to_string(usrptr->usage);
}
int moduleCheck(const char* password) {
  simhost::trace("check " + who());
  if (checkEndsVisit) bbsdsc(usrnum);
  return savedCheck(password);
}
int logonSlot() {
  simhost::trace("slot1 " + who());
  return 0;
}
void hangupSlot() { simhost::trace("slot6 usrnum=" + std::to_string(usrnum)); }
void connectHook() { simhost::trace("hook " + who()); }

ModuleRecord module = [] {
  ModuleRecord m{};
  std::strcpy(m.description, "Logon test");
  m.logon = logonSlot;
  m.hangup = hangupSlot;
  return m;
}();

}  // namespace

class CoreLogon : public CoreHost {
 protected:
  void SetUp() override {
    CoreHost::SetUp();
    simhost::setAccount("Ann", {"Vip"}, false);
    register_module(&module);
    hook_connect(connectHook);
    savedCheck = chkpsw;
    chkpsw = moduleCheck;
    checkEndsVisit = false;
    take();
  }
};

TEST_F(CoreLogon, PasswordRoute) {
  const struct {
    bool badpassword, checkEndsVisit;
    std::vector<std::string> events;
  } cases[] = {
      {false,
       false,
       {"check usrnum=2 status=1 usage=77", "logon 2 \"Ann\" accepted",
        "slot1 usrnum=2 status=2 usage=77"}},
      {true,
       false,
       {"check usrnum=2 status=1 usage=77", "logon 2 \"Ann\" rejected", "hangup 2 \"Ann\"",
        "slot6 usrnum=2"}},
      {false,
       true,
       {"check usrnum=2 status=1 usage=77", "logon 2 \"Ann\" accepted", "hangup 2 \"Ann\"",
        "slot6 usrnum=2"}},
      {true,
       true,
       {"check usrnum=2 status=1 usage=77", "logon 2 \"Ann\" rejected", "hangup 2 \"Ann\"",
        "slot6 usrnum=2"}},
  };
  for (const auto& c : cases) {
    checkEndsVisit = c.checkEndsVisit;
    simhost::Arrival a;
    a.channel = 2;
    a.userid = "ANN";  // the account's own spelling is the one shown
    a.usage = 77;
    a.status = 2;
    a.badpassword = c.badpassword;
    ASSERT_EQ(simhost::logon(a), "");
    EXPECT_EQ(take(), c.events) << "badpassword=" << c.badpassword
                                << " checkEndsVisit=" << c.checkEndsVisit;
    const bool stays = !c.badpassword && !c.checkEndsVisit;
    EXPECT_EQ(usroff(2)->status, stays ? 2 : 0);
    EXPECT_EQ(haskey("vip"), stays ? 1 : 0);
    EXPECT_EQ(usrnum, 2);
    if (stays) simhost::logoff(2);
    take();
  }
}

TEST_F(CoreLogon, TheHostsOwnCheckRefusesABadPasswordWhenCalledDirectly) {
  chkpsw = savedCheck;
  simhost::Arrival a;
  a.channel = 1;
  a.userid = "Ann";
  a.badpassword = true;
  ASSERT_EQ(simhost::logon(a), "");
  EXPECT_EQ(take(), (std::vector<std::string>{"logon 1 \"Ann\" rejected", "hangup 1 \"Ann\"",
                                              "slot6 usrnum=1"}));
  EXPECT_EQ(savedCheck("anything"), 1);  // only while that arrival is checked
}

TEST_F(CoreLogon, ConnectRouteCallsHooksNotTheCheck) {
  simhost::Arrival a;
  a.channel = 3;
  a.userid = "Bob";
  a.usage = -5;
  a.notally = true;
  a.directend = true;
  ASSERT_EQ(simhost::connect(a), "");
  EXPECT_EQ(take(),
            (std::vector<std::string>{"connect 3 \"Bob\"", "hook usrnum=3 status=6 usage=-5"}));
  EXPECT_EQ(usroff(3)->flags2, CHANNEL_DIRECTEND);
  EXPECT_EQ(usroff(3)->flags3, CHANNEL_NOTALLY);
}

TEST_F(CoreLogon, ArrivalsThatCannotHappen) {
  ASSERT_EQ(simhost::occupy(4, 1, "(Login)"), "");
  simhost::Arrival a;
  a.userid = "Ann";
  a.channel = 4;
  EXPECT_EQ(simhost::logon(a), "channel 4 is busy");
  EXPECT_EQ(simhost::connect(a), "channel 4 is busy");
  a.channel = 8;
  EXPECT_EQ(simhost::logon(a).rfind("channel 8 is out of range", 0), 0u);
  a.channel = 5;
  a.userid = std::string(30, 'x');
  EXPECT_NE(simhost::logon(a), "");
  EXPECT_EQ(usroff(5)->status, 0);
  EXPECT_TRUE(take().empty());
}

TEST_F(CoreLogon, FirstLogonCreatesAnAccountWithNoKeys) {
  simhost::Arrival a;
  a.channel = 0;
  a.userid = "Carol";
  ASSERT_EQ(simhost::logon(a), "");
  simhost::logoff(0);
  bool found = false;
  for (const auto& record : simhost::allRecords(accbb)) {
    const auto* account = reinterpret_cast<const AccountRecord*>(record.data());
    if (std::string(account->userid) == "Carol") {
      found = true;
      EXPECT_EQ(account->keys[0], '\0');
    }
  }
  EXPECT_TRUE(found);
}
