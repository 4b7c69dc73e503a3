// The one gate a typed user-id and password pass, whatever carries them
// (telnet, SSH's password and keyboard-interactive, the web terminal, the
// console's sign-in): the user-id rule, the throttle (a guess counted when
// it is handed to the hashing workers, forgiven when right), the dummy hash
// for an id with none, the workers themselves, the typed password wiped,
// and the lines a wrong guess writes for the sysop, fail2ban and metrics.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "board/caller/admission.h"
#include "board/caller/passwords.h"
#include "board/caller/throttle.h"
#include "board/core/net.h"

namespace board {

// Passwords a caller may try in one call, on every transport.
inline constexpr int kTries = 3;

// Who is guessing, as the gate's lines name him.
struct Guesser {
  std::string ip;       // the address the throttle counts
  std::string address;  // the caller as a `blocked` line names him
  std::string where;    // his transport ("ssh", "console") before he has a channel
  int channel = -1;     // his channel's index, once he has one
  // False when the transport could not carry the id and password whole
  // (a NUL inside an SSH one): checked as any other, and always wrong.
  bool whole = true;
};

enum class Answer {
  Good,     // the id's password: the guess is forgiven
  Wrong,    // an id with a hash, another password: `wrong WHERE "ID" "IP"`
  Unknown,  // no such id: `unknown WHERE "ID" "IP"`, after the same time
  Blocked,  // the address is blocked and nothing was checked: `blocked "ADDRESS"`
};

class LogonGate {
 public:
  using Done = std::function<void(Answer, const std::string& userid)>;

  LogonGate(net::io_context& io, Throttle& throttle, Admission& admission, PasswordFile& passwords);
  ~LogonGate();
  LogonGate(const LogonGate&) = delete;
  LogonGate& operator=(const LogonGate&) = delete;

  // TYPED (the id as the caller gave it) and PASSWORD checked on the
  // workers; DONE runs on the loop with the answer and the user-id the
  // rule keeps (TYPED when it keeps nothing), or at once when Blocked.
  // PASSWORD is wiped whatever the answer. A guess that blocks the address
  // writes its `block` line only when it proves wrong: what the board
  // forgives, no line counts against.
  void check(const Guesser& who, const std::string& typed, std::string password, Done done);
  // A new password hashed on the workers for a sign-up and wiped; DONE on
  // the loop with the hash, or "" when it could not be made.
  void hashNew(std::string password, std::function<void(const std::string& hash)> done);
  // Work handed to the workers and not yet done.
  int queued() const { return queued_.load(); }
  // Checks not yet begun are dropped (their callers are told by the
  // board's shutdown); one a worker is in may finish.
  void stop() { workers_.stop(); }

 private:
  void onWorker(std::function<void()> work);
  void answered(const Guesser& who, const std::string& userid, bool good, bool known, bool blocks,
                Throttle::Time at);

  net::io_context& io_;
  Throttle& throttle_;
  Admission& admission_;
  PasswordFile& passwords_;
  net::thread_pool workers_;
  std::atomic<int> queued_{0};
};

// The typed text wiped and emptied.
void forgetText(std::string* secret);

}  // namespace board
