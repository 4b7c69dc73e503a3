// The log-on gate: one check of a user-id and password for every caller.
#include "board/logon_gate.h"

#include <sodium.h>

#include "board/board.h"
#include "board/passwords.h"
#include "board/userid.h"
#include "simhost/text.h"

namespace board {

void forgetText(std::string* secret) {
  if (!secret->empty()) sodium_memzero(secret->data(), secret->size());
  secret->clear();
}

namespace {

void traceBlock(Board& board, const std::string& ip) {
  simhost::trace("block " + simhost::quote(ip) + " " +
                 std::to_string(board.config().throttle.blockFor.count()));
}

// Back on the loop: the guess forgiven when right, its lines when not.
void answered(Board& board, const Guesser& who, const std::string& userid, bool good, bool known,
              bool blocks, Throttle::Time at) {
  if (good) {
    board.throttle().forgive(who.ip, at, LiveClock::Steady::now());
    return;
  }
  simhost::trace((known ? "wrong " : "unknown ") + who.where + " " + simhost::quote(userid) + " " +
                 simhost::quote(who.ip));
  if (blocks) traceBlock(board, who.ip);
}

}  // namespace

void checkLogon(Board& board, const Guesser& who, const std::string& typed, std::string password,
                std::function<void(Answer, const std::string& userid)> done) {
  // Counted now, not when answered, so calls guessing at once are held too.
  const Throttle::Time at = LiveClock::Steady::now();
  const Throttle::Guess guess = board.throttle().guess(who.ip, at);
  if (guess == Throttle::Guess::Refused) {
    forgetText(&password);
    simhost::trace("blocked " + simhost::quote(who.address));
    done(Answer::Blocked, typed);
    return;
  }
  const std::optional<std::string> kept = userIdFromTyped(typed);
  std::optional<std::string> stored;
  if (kept) stored = board.passwords().hashOf(*kept);
  const bool known = stored.has_value();
  const bool blocks = guess == Throttle::Guess::Blocks;
  board.hash([&board, who, userid = kept.value_or(typed), hash = known ? *stored : dummyHash(),
              password = std::move(password), known, blocks, at, done = std::move(done)]() mutable {
    const bool good = verifyPassword(hash, password) && known;
    forgetText(&password);
    net::post(board.io(), [&board, who = std::move(who), userid = std::move(userid), good, known,
                           blocks, at, done = std::move(done)] {
      answered(board, who, userid, good, known, blocks, at);
      done(good ? Answer::Good : known ? Answer::Wrong : Answer::Unknown, userid);
    });
  });
}

}  // namespace board
