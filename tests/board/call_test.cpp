// A call driven end to end through a scripted transport on a real board
// and host core (no module loaded): sign-on, a wrong password, the prompt
// time-out, a caller who stops reading, and the last words before a close.
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "board/core/board.h"
#include "simhost/simhost.h"
#include "tests/board/scripted_transport.h"

namespace {

using namespace std::chrono_literals;
using board::error_code;
using board::Script;
using board::ScriptedTransport;

class CallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/call_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    simhost::Setup setup;
    setup.dir = dir_;
    setup.clock = simhost::clockFromCivil({2026, 12, 8, 19, 0, 0});
    setup.channels = 4;
    setup.trace = [this](const std::string& line) {
      trace.push_back(line.substr(simhost::kTraceEventOffset));
    };
    simhost::reset(setup);
    passwords_ = std::make_unique<board::PasswordFile>(dir_ + "/passwords.dat");
    ASSERT_EQ(passwords_->store("alice", board::hashPassword("a-pass")), "");
    ASSERT_EQ(simhost::storeAccount("alice", {}, false), "");
    config.promptSeconds = 5;
    config.throttle.includeLoopback = true;
  }
  void TearDown() override {
    // The board's way down ends every call: the drain's timer closes a
    // script that is still open, and the handlers holding calls run out.
    if (board_) board_->stop();
    io.restart();
    io.run_for(5s);
    board_.reset();
    passwords_.reset();
    simhost::close();
    if (chdir("/") == 0) std::filesystem::remove_all(dir_);
  }
  board::Board& board() {
    if (!board_) board_ = std::make_unique<board::Board>(io, config, *passwords_);
    return *board_;
  }
  // A caller's script, kept until the board is down after the case.
  Script& script() { return scripts_.emplace_back(); }
  ScriptedTransport* call(Script& script) {
    auto transport = std::make_unique<ScriptedTransport>(io, script);
    ScriptedTransport* t = transport.get();
    board().admit(std::move(transport), "127.0.0.1:4000", "127.0.0.1");
    return t;
  }
  // Runs the loop until WHEN holds (true) or LIMIT passes (false).
  bool until(const std::function<bool()>& when, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!when()) {
      if (std::chrono::steady_clock::now() > end) return false;
      io.restart();
      io.run_for(5ms);
    }
    return true;
  }
  bool traced(const std::string& event) {
    return std::find(trace.begin(), trace.end(), event) != trace.end();
  }
  static bool has(const Script& s, const std::string& text) {
    return s.shown.find(text) != std::string::npos;
  }

  net::io_context io;
  board::Config config;
  std::vector<std::string> trace;

 private:
  std::string dir_;
  std::unique_ptr<board::PasswordFile> passwords_;
  std::unique_ptr<board::Board> board_;
  std::deque<Script> scripts_;
};

TEST_F(CallTest, SignOnAndAWrongPasswordTakeTheSameRoadAsOverTheNetwork) {
  Script& s = script();
  ScriptedTransport* t = call(s);
  ASSERT_TRUE(until([&] { return has(s, "User-ID: "); }));
  s.typed = "alice\r\nwrong\r\n";
  t->poll();
  ASSERT_TRUE(until([&] { return has(s, "Wrong user-id or password."); })) << s.shown;
  EXPECT_TRUE(traced(R"(wrong 0 "alice" "127.0.0.1")"));
  s.typed = "alice\r\na-pass\r\n";
  t->poll();
  ASSERT_TRUE(until([&] { return has(s, "Welcome, alice."); })) << s.shown;
  EXPECT_TRUE(traced(R"(logon 0 "alice" accepted "127.0.0.1")"));
  s.typed = "/quit\r\n";
  t->poll();
  ASSERT_TRUE(until([&] { return s.shut; }));
  EXPECT_NE(s.shownBeforeShut.find("Goodbye."), std::string::npos) << s.shownBeforeShut;
}

TEST_F(CallTest, APromptLeftUnansweredTimesOutAndIsClosed) {
  config.promptSeconds = 1;
  Script& s = script();
  call(s);
  ASSERT_TRUE(until([&] { return s.shut; }, 5s)) << s.shown;
  EXPECT_NE(s.shownBeforeShut.find("Time is up."), std::string::npos) << s.shownBeforeShut;
  EXPECT_TRUE(traced(R"x(timeout 0 "(Login)")x"));
  EXPECT_TRUE(until([&] { return s.closed; }, 5s));  // the drain ends
}

TEST_F(CallTest, ACallerWhoStopsReadingIsLetGoPastTheQueueCap) {
  Script& s = script();
  ScriptedTransport* t = call(s);
  ASSERT_TRUE(until([&] { return has(s, "User-ID: "); }));
  s.stalled = true;
  const std::shared_ptr<board::Call> c = board().calls()[0];
  ASSERT_TRUE(c);
  for (int i = 0; i < 5; ++i) c->write(std::string(board::kQueueCap / 4, 'x'));
  ASSERT_TRUE(until([&] { return traced(R"(overflow 0 "127.0.0.1:4000")"); }));
  ASSERT_TRUE(until([&] { return traced(R"x(hangup 0 "(Login)")x"); })) << trace.back();
  t->poll();
  EXPECT_TRUE(until([&] { return s.closed; }, 5s));
  EXPECT_FALSE(board().calls()[0]);
}

TEST_F(CallTest, TheLastWordsBeforeAHangUpArriveBeforeTheSendingSideIsShut) {
  Script& s = script();
  ScriptedTransport* t = call(s);
  ASSERT_TRUE(until([&] { return has(s, "User-ID: "); }));
  s.stalled = true;  // a slow reader: the words wait in the queue
  board().calls()[0]->write("You have been disconnected to free a channel.\r\n");
  board().hangUp(0);
  EXPECT_FALSE(until([&] { return s.shut; }, 100ms));
  s.stalled = false;
  t->poll();
  ASSERT_TRUE(until([&] { return s.shut; }));
  EXPECT_NE(s.shownBeforeShut.find("free a channel."), std::string::npos) << s.shownBeforeShut;
}

}  // namespace
