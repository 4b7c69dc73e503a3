// The live board: one io_context on one thread carries the network, the
// host's clock and every call into the host; password hashes run on a
// small worker pool and come back to that thread as events.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>
#include "board/core/net.h"

#include "board/behind/relay.h"
#include "board/caller/admission.h"
#include "board/caller/connection.h"
#include "board/caller/logon_gate.h"
#include "board/caller/passwords.h"
#include "board/caller/throttle.h"
#include "board/core/config.h"
#include "board/core/live_clock.h"
#include "board/core/transport.h"

namespace board {

class Board;

// One caller's dialogue, from the banner to the last words: the prompts,
// sign-up, the host's password route and the teleconference (or, with
// --behind, the board behind), over a connection that carries the bytes.
class Call : public std::enable_shared_from_this<Call>,
             private ConnectionOwner,
             private RelayOwner {
 public:
  // ADDRESS is the caller's "IP:PORT" as traced; IP the address alone.
  Call(Board& board, std::unique_ptr<Transport> transport, std::string address, std::string ip);

  // A call given a channel: the banner and the first prompt.
  void begin(int channel);
  // A call whose transport has checked the password of USERID already
  // (SSH): the banner, then the host's route for a right password; `new`
  // with --new-users begins a sign-up instead.
  void beginChecked(int channel, const std::string& userid);
  // A call with no channel to take: told so, then closed.
  void turnAway(const char* why);
  // Text for the caller, byte for byte (0xFF doubled by the telnet layer);
  // carried, between the board behind's characters and sequences.
  void write(std::string_view text);
  // The host has carried out this call's disconnection: what is queued
  // goes out, then the sending side is shut and the rest drained.
  void closeAfterFlush();

  int channel() const { return channel_; }
  bool signedOn() const {
    return stage_ == Stage::On || stage_ == Stage::Connecting || stage_ == Stage::Carried;
  }
  // "carried to rlogin:HOST:PORT since YYYY-MM-DD HH:MM:SS", for `ctl who`
  // and the console; "" while the call is not carried.
  std::string carriedText() const;
  const std::string& userid() const { return userid_; }
  const std::string& address() const { return address_; }
  const std::string& ip() const { return ip_; }
  const char* transportKind() const { return connection_.kind(); }
  simhost::Clock since() const { return since_; }
  // The talker's pace from now, as a reload sets it (a full bucket).
  void paceTalk(TalkLimits limits) { talk_ = TalkBucket(limits); }

 private:
  enum class Stage {
    UserId,
    Password,
    Checking,
    NewUserId,
    NewPassword,
    NewAgain,
    On,
    Connecting,  // signed on, the board behind not answered yet
    Carried,
    Gone
  };

  // What the connection tells.
  void typed(const Line& line) override;
  bool holding() const override;
  void fault(simhost::EventKind kind) override;
  void broken() override;
  void finished() override;
  void keys(std::string_view keys) override;
  void sent() override;

  // What the relay to the board behind tells (board/behind/carry.cpp).
  void carry();
  void reached() override;
  void unreachable(const std::string& why) override;
  void toCaller(std::string_view bytes) override { connection_.write(bytes); }
  bool callerHasRoom() const override;
  void behindGone() override;
  void behindTakesKeys() override { connection_.pump(); }

  LineLayer& lines() { return connection_.lines(); }
  void opening(int channel);
  void prompt(Stage stage);
  void armTimeout();
  void timedOut();
  void userIdTyped(const std::string& id);
  void newUserIdTyped(const std::string& id);
  void passwordTyped(std::string password);
  void checked(Answer answer);
  void newPasswordTyped(std::string password);
  void signUp(const std::string& hash);
  void refused(const char* why = "\r\nWrong user-id or password.\r\n");
  void conference(const std::string& text);
  void leave();

  Board& board_;
  Connection connection_;
  net::steady_timer timeout_;  // the prompt and idle time-outs
  std::string address_, ip_;

  int channel_ = -1;
  Stage stage_ = Stage::UserId;
  std::string userid_;
  std::string firstPassword_;  // the new user's first try, until the second
  int tries_ = 0;
  simhost::Clock since_ = 0;                 // host clock at the connection
  LiveClock::Steady::time_point arrived_{};  // the sign-on's time counts from here
  TalkBucket talk_;                          // the pace of this caller's lines to the others
  std::unique_ptr<Relay> relay_;             // to the board behind, once signed on with --behind
  std::string carriedTo_;                    // "rlogin:HOST:PORT", from the relay's start
  simhost::Clock carriedSince_ = 0;          // host clock when the board behind answered
};

class Board {
 public:
  Board(net::io_context& io, const Config& config, PasswordFile& passwords);
  ~Board();

  // The host's clock running, once the module has started.
  void start();
  // Every caller is told, slot 9 runs, connections close; the loop then
  // runs out of work. Safe to call twice.
  void stop();
  // The settings a reload changes, in force from now: the time-outs and
  // the rules read from config() at each use, the throttle's limits, each
  // talker's pace (board/reload.cpp says which settings may change).
  void reconfigure(const Config& config);
  // Called by stop(), for what else keeps the loop busy (the control socket).
  void whenStopping(std::function<void()> then) { whenStopping_ = std::move(then); }

  // The host's clock brought to this moment, firing what falls due.
  void advance();
  // The disconnection of a channel through the host's route.
  void hangUp(int channel);
  // A caller whose transport has carried him this far: given a free channel
  // and the banner, or told why not and closed (then null). PEER is the
  // transport's "IP:PORT", IP the address the throttle counts. CHECKED is
  // the user-id whose password the transport has checked, if it did.
  std::shared_ptr<Call> admit(std::unique_ptr<Transport> transport, const std::string& peer,
                              const std::string& ip, const std::string& checked = {});
  // A caller refused at accept, told why where its transport can say it.
  void turnAway(std::unique_ptr<Transport> transport, const Arrival& arrival,
                Admission::Verdict verdict);
  // A failed log-on from IP, for the throttle.
  void failedLogon(const std::string& ip);
  Throttle& throttle() { return throttle_; }
  Admission& admission() { return admission_; }
  BehindCounts& behindCounts() { return behindCounts_; }
  LogonGate& gate() { return gate_; }

  const Config& config() const { return config_; }
  PasswordFile& passwords() { return passwords_; }
  net::io_context& io() { return io_; }
  std::vector<std::shared_ptr<Call>> calls() const;  // by channel
  bool stopping() const { return stopping_; }
  void forget(const std::shared_ptr<Call>& call);  // a call fully closed

 private:
  void armTick();
  void deliver(int channel, const std::string& text);
  void hungUp(int channel);
  std::int32_t usage(int channel, std::int32_t usage) const;

  net::io_context& io_;
  Config config_;
  PasswordFile& passwords_;
  LiveClock clock_;
  net::steady_timer tick_;
  std::optional<LiveClock::Steady::time_point> tickAt_;
  Throttle throttle_;
  Admission admission_;
  BehindCounts behindCounts_;
  LogonGate gate_;
  std::array<std::shared_ptr<Call>, HOST_MAX_CHANNELS> onChannel_{};
  std::set<std::shared_ptr<Call>> closing_;  // off their channel, still draining
  bool stopping_ = false;
  std::function<void()> whenStopping_;
};

}  // namespace board
