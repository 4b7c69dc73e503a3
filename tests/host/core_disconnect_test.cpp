// What the host does after a module routine returns: leftover output is
// dropped with a warning, requested disconnections are carried out once
// each, in order (hangup line, disconnect hook, slot 6, channel freed),
// before anything else due at that second.
#include <cstring>

#include "core_host.h"

namespace {

void hook() {
  simhost::trace("hook usrnum=" + std::to_string(usrnum));
  if (usrnum == 3) {
    bbsdsc(3);  // its own channel: already being freed
    bbsdsc(6);  // another: hung up as soon as this hook returns
  }
}
void hangupSlot() { simhost::trace("slot6 usrnum=" + std::to_string(usrnum)); }
void asksTwiceAndAnother() {
  bbsdsc(3);
  bbsdsc(5);
  bbsdsc(3);
  simhost::trace("asked");
}
void next() { simhost::trace("next usrnum=" + std::to_string(usrnum)); }
void leavesOutput() { prf("never sent"); }
void deliversToOther() {
  othusn = 4;
  prf("hello\r\n");
  injoth();
  injoth();  // nothing left: no second delivery
}
void saysBye() {
  prf("bye");
  byenow(35);  // no message file is open: the text so far goes alone
}

ModuleRecord module = [] {
  ModuleRecord m{};
  std::strcpy(m.description, "Hangup test");
  m.hangup = hangupSlot;
  return m;
}();

}  // namespace

class CoreDisconnect : public CoreHost {
 protected:
  void SetUp() override {
    CoreHost::SetUp();
    register_module(&module);
    for (int ch : {3, 4, 5, 6}) {
      ASSERT_EQ(simhost::occupy(ch, 6, "user" + std::to_string(ch)), "");
    }
    take();
  }
  void runNow(HostRoutine routine) {
    rtkick(0, routine);
    simhost::advanceTo(simhost::clock());
  }
};

TEST_F(CoreDisconnect, EachChannelOnceInRequestOrderBeforeTheNextTimer) {
  hook_disconnect(hook);
  rtkick(0, asksTwiceAndAnother);
  rtkick(0, next);
  simhost::advanceTo(simhost::clock());
  EXPECT_EQ(take(), (std::vector<std::string>{
                        "asked", "hangup 3 \"user3\"", "hook usrnum=3", "hangup 6 \"user6\"",
                        "hook usrnum=6", "slot6 usrnum=6", "slot6 usrnum=3", "hangup 5 \"user5\"",
                        "hook usrnum=5", "slot6 usrnum=5", "next usrnum=5"}));
  for (int ch : {3, 5, 6}) {
    const ChannelRecord* record = usroff(ch);
    EXPECT_EQ(record->status, 0) << ch;
    EXPECT_EQ(record->flags2 | record->flags3, 0) << ch;
    EXPECT_EQ(uacoff(ch)->userid[0], '\0') << ch;
  }
  EXPECT_EQ(usroff(4)->status, 6);
}

TEST_F(CoreDisconnect, WithoutHooksTheSlotStillRuns) {
  ASSERT_EQ(simhost::logoff(4), "");
  EXPECT_EQ(take(), (std::vector<std::string>{"hangup 4 \"user4\"", "slot6 usrnum=4"}));
  EXPECT_EQ(simhost::logoff(4), "channel 4 is free");
  hook_disconnect(hook);
  hook_disconnect(hook);  // several hooks run in registration order
  ASSERT_EQ(simhost::logoff(5), "");
  EXPECT_EQ(take(), (std::vector<std::string>{"hangup 5 \"user5\"", "hook usrnum=5",
                                              "hook usrnum=5", "slot6 usrnum=5"}));
}

TEST_F(CoreDisconnect, LeftoverOutputIsDiscardedWithAWarning) {
  runNow(leavesOutput);
  const auto ev = take();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].rfind("warning \"output left in the buffer", 0), 0u) << ev[0];
  runNow(deliversToOther);  // the discarded text does not come back
  EXPECT_EQ(take(), (std::vector<std::string>{"deliver 4 \"hello\\r\\n\""}));
}

TEST_F(CoreDisconnect, ByenowDeliversThenEndsTheVisit) {
  ASSERT_EQ(simhost::setField(5, simhost::Field::Usage, 40), "");  // serve 5
  runNow(saysBye);
  const auto ev = take();
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_NE(ev[0].find("message 35 is missing"), std::string::npos) << ev[0];
  EXPECT_EQ(ev[1], "deliver 5 \"bye\"");
  EXPECT_EQ(ev[2], "hangup 5 \"user5\"");
  EXPECT_EQ(ev[3], "slot6 usrnum=5");
}

TEST_F(CoreDisconnect, StrayChannelIndexesAreRefusedNotFollowed) {
  othusn = 99;
  prf("lost");
  EXPECT_EQ(injoth(), 0);
  bbsdsc(-1);
  const auto ev = take();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_NE(ev[0].find("injoth: channel 99 is out of range"), std::string::npos);
  EXPECT_NE(ev[1].find("bbsdsc: channel -1 is out of range"), std::string::npos);
}
