// The console on the live board: sign-ins through the log-on gate every
// caller passes (a blocked address's refusals traced a line every few
// seconds at most), the key looked up in the account file, the sysop's
// looks and changes through the verb table `ctl` reads, and a timer on the
// loop that pushes what changed to watching pages four times a second.
#include "board/sysop/console.h"

#include <algorithm>

#include "board/caller/logon_gate.h"
#include "board/core/board.h"
#include "board/sysop/console_api.h"
#include "board/sysop/sysop.h"
#include "simhost/event.h"
#include "simhost/text.h"

namespace board {

// The page's files, built in (board/sysop/console_assets.cmake).
std::string consoleAsset(const std::string& name);

namespace {

constexpr auto kPushEvery = std::chrono::milliseconds(250);
constexpr int kQuietTurns = 60;  // a comment to watchers every 15 s keeps proxies open

class BoardConsole : public ConsoleHost {
 public:
  BoardConsole(SysopDesk desk, std::string key)
      : desk_(desk), board_(desk.board), key_(std::move(key)) {}

  void checkPassword(const std::string& user, std::string password, const std::string& ip,
                     std::function<void(Check, const std::string&)> done) override {
    board_.advance();
    const Throttle::Time at = LiveClock::Steady::now();
    if (blockedNow(ip, at)) {
      board_.admission().refused(Admission::Verdict::Blocked, "console", "console " + ip, ip, at);
      return done(Check::Blocked, user);
    }
    const Guesser who{ip, "console " + ip, "console"};
    board_.gate().check(who, user, std::move(password),
                        [done = std::move(done)](Answer answer, const std::string& userid) {
                          done(answer == Answer::Good      ? Check::Good
                               : answer == Answer::Wrong   ? Check::Wrong
                               : answer == Answer::Unknown ? Check::Unknown
                                                           : Check::Blocked,
                               userid);
                        });
  }

  bool holdsKey(const std::string& user) override {
    const std::optional<simhost::StoredAccount> account = simhost::findAccount(user);
    if (!account) return false;
    for (const std::string& k : account->keys)
      if (simhost::text::equalFolded(k, key_)) return true;
    return false;
  }

  bool stopping() override { return board_.stopping(); }

  std::string view(const std::string& what) override {
    board_.advance();
    const Verb* verb = findVerb(what, Reach::Console);
    if (!verb || !isLook(*verb)) return "null";  // the routes ask only the table's looks
    return verb->json(desk_);
  }

  SysopDone act(const std::string& verb, const std::string& operand,
                const std::optional<std::string>& userid, const std::string& by) override {
    return sysopChange(desk_, verb, Reach::Console, {operand, userid, bySysop(by)});
  }

  std::string asset(const std::string& name) override { return consoleAsset(name); }

 private:
  // Whether IP is blocked now, asked without counting a guess.
  bool blockedNow(const std::string& ip, Throttle::Time at) {
    const std::vector<Throttle::Block> blocks = board_.throttle().blocked(at);
    return std::any_of(blocks.begin(), blocks.end(),
                       [&](const Throttle::Block& b) { return b.address == ip; });
  }

  SysopDesk desk_;
  Board& board_;
  std::string key_;
};

// The console, its host and the push timer, kept alive by the route.
struct Mounted {
  Mounted(SysopDesk desk, const ConsoleConfig& config)
      : host(desk, config.key),
        console(std::make_shared<Console>(
            host, config.now ? config.now : [] { return std::chrono::steady_clock::now(); })),
        timer(desk.board.io()),
        board(desk.board) {}
  BoardConsole host;
  std::shared_ptr<Console> console;
  net::steady_timer timer;
  Board& board;
  int quiet = 0;
};

void armPush(const std::shared_ptr<Mounted>& m) {
  m->timer.expires_after(kPushEvery);
  std::weak_ptr<Mounted> weak = m;
  m->timer.async_wait([weak](const error_code& error) {
    auto m = weak.lock();
    if (error || !m) return;
    const bool force = ++m->quiet >= kQuietTurns;
    if (force) m->quiet = 0;
    m->console->push(force);
    if (!m->board.stopping()) armPush(m);
  });
}

}  // namespace

HttpRoute consoleRoute(SysopDesk desk, const ConsoleConfig& config) {
  auto mounted = std::make_shared<Mounted>(desk, config);
  armPush(mounted);
  return [mounted](const HttpRequest& request) { return mounted->console->answer(request); };
}

}  // namespace board
