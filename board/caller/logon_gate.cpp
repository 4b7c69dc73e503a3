// The log-on gate: one check of a user-id and password for every caller,
// on hashing workers that yield to the loop.
#include "board/caller/logon_gate.h"

#include <sodium.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "board/caller/userid.h"
#include "board/core/live_clock.h"
#include "simhost/event.h"
#include "simhost/simhost.h"

namespace board {

void forgetText(std::string* secret) {
  if (!secret->empty()) sodium_memzero(secret->data(), secret->size());
  secret->clear();
}

namespace {

// A worker a core: they run below the loop's priority, so a storm of
// log-ons takes every core the loop leaves idle and never the loop's turn.
std::size_t workerCount() { return std::max(1U, std::thread::hardware_concurrency()); }

}  // namespace

LogonGate::LogonGate(net::io_context& io, Throttle& throttle, Admission& admission,
                     PasswordFile& passwords)
    : io_(io),
      throttle_(throttle),
      admission_(admission),
      passwords_(passwords),
      workers_(workerCount()) {
  (void)dummyHash();  // made now, not on the first unknown caller's time
}

LogonGate::~LogonGate() { workers_.join(); }

void LogonGate::onWorker(std::function<void()> work) {
  ++queued_;
  net::post(workers_, [this, work = std::move(work)] {
    thread_local bool lowered = false;
    if (!lowered) {
      setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
      lowered = true;
    }
    work();
    --queued_;
  });
}

void LogonGate::check(const Guesser& who, const std::string& typed, std::string password,
                      Done done) {
  // Counted now, not when answered, so calls guessing at once are held too.
  const Throttle::Time at = LiveClock::Steady::now();
  const Throttle::Guess guess = throttle_.guess(who.ip, at);
  if (guess == Throttle::Guess::Refused) {
    forgetText(&password);
    admission_.refused(Admission::Verdict::Blocked, "guess " + who.where, who.address, who.ip, at);
    done(Answer::Blocked, typed);
    return;
  }
  const std::optional<std::string> kept = userIdFromTyped(typed);
  std::optional<std::string> stored;
  if (kept) stored = passwords_.hashOf(*kept);
  const bool known = stored.has_value();
  const bool blocks = guess == Throttle::Guess::Blocks;
  onWorker([this, who, userid = kept.value_or(typed), hash = known ? *stored : dummyHash(),
            password = std::move(password), known, blocks, at, done = std::move(done)]() mutable {
    const bool good = verifyPassword(hash, password) && known && who.whole;
    forgetText(&password);
    net::post(io_, [this, who, userid = std::move(userid), good, known, blocks, at,
                    done = std::move(done)] {
      answered(who, userid, good, known, blocks, at);
      done(good ? Answer::Good : known ? Answer::Wrong : Answer::Unknown, userid);
    });
  });
}

// Back on the loop: the guess forgiven when right, its lines when not.
void LogonGate::answered(const Guesser& who, const std::string& userid, bool good, bool known,
                         bool blocks, Throttle::Time at) {
  if (good) {
    throttle_.forgive(who.ip, at, LiveClock::Steady::now());
    return;
  }
  simhost::emit({.kind = known ? simhost::EventKind::Wrong : simhost::EventKind::Unknown,
                 .channel = who.channel,
                 .where = who.where,
                 .userid = userid,
                 .address = who.ip});
  if (blocks)
    simhost::emit({.kind = simhost::EventKind::Block,
                   .address = who.ip,
                   .number = static_cast<long>(throttle_.limits().blockFor.count())});
}

void LogonGate::hashNew(std::string password, std::function<void(const std::string&)> done) {
  onWorker([this, password = std::move(password), done = std::move(done)]() mutable {
    std::string hash;
    try {
      hash = hashPassword(password);
    } catch (const std::exception&) {
      hash.clear();  // no memory for it: the sign-up fails
    }
    forgetText(&password);
    net::post(io_, [hash = std::move(hash), done = std::move(done)] { done(hash); });
  });
}

}  // namespace board
