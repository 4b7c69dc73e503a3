// The console on the live board: sign-ins through the log-on gate every
// caller passes (a blocked address's refusals traced a line every few
// seconds at most), the key looked up in the account file, the
// sysop's changes through the routines `ctl` uses, and a timer on the
// loop that pushes what changed to watching pages four times a second.
#include "board/sysop/console.h"

#include <algorithm>
#include <unordered_map>

#include "board/caller/logon_gate.h"
#include "board/core/board.h"
#include "board/sysop/console_api.h"
#include "board/sysop/console_views.h"
#include "board/sysop/sysop.h"
#include "simhost/event.h"
#include "simhost/text.h"

namespace board {

// The page's files, built in (board/sysop/console_assets.cmake).
std::string consoleAsset(const std::string& name);

namespace {

constexpr auto kPushEvery = std::chrono::milliseconds(250);
constexpr int kQuietTurns = 60;  // a comment to watchers every 15 s keeps proxies open
constexpr auto kRefusalLines =
    std::chrono::seconds(5);                 // a blocked address's, at most one so often
constexpr std::size_t kRefusalsKept = 1024;  // addresses whose refusals are counted

// A blocked address may try thousands of sign-ins a second: the first
// refusal is traced at once, the rest at most one line every 5 s, naming
// how many refusals that line stands for.
class RefusalTrace {
 public:
  void refused(const std::string& ip, Throttle::Time now) {
    if (seen_.size() >= kRefusalsKept) {
      std::erase_if(seen_, [now](const auto& e) { return now - e.second.at >= kRefusalLines; });
      if (seen_.size() >= kRefusalsKept) seen_.clear();
    }
    auto [it, fresh] = seen_.try_emplace(ip, Seen{now, 0});
    ++it->second.count;
    if (!fresh && now - it->second.at < kRefusalLines) return;
    const long count = it->second.count;
    simhost::emit({.kind = simhost::EventKind::Blocked,
                   .address = simhost::callerName("console", ip),
                   .number = count});
    it->second = Seen{now, 0};
  }

 private:
  struct Seen {
    Throttle::Time at;
    long count;  // refusals since the last line
  };
  std::unordered_map<std::string, Seen> seen_;
};

class BoardConsole : public ConsoleHost {
 public:
  BoardConsole(Board& board, const HostWatch& watch, std::string key)
      : board_(board), watch_(watch), key_(std::move(key)), facts_(consoleFacts(board.config())) {}

  void checkPassword(const std::string& user, std::string password, const std::string& ip,
                     std::function<void(Check, const std::string&)> done) override {
    board_.advance();
    const Throttle::Time at = LiveClock::Steady::now();
    if (blockedNow(ip, at)) {
      refusals_.refused(ip, at);
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
    if (what == "who") return whoJson(board_, facts_, watch_);
    if (what == "delays") return delaysJson(facts_);
    if (what == "blocked") return blockedJson(board_);
    const hostprog::ReportFile file =
        facts_.reportPath.empty() ? hostprog::ReportFile{"no report file is set (option 29)", {}}
                                  : hostprog::readReport(facts_.reportPath);
    return reportJson(file, watch_);
  }

  ConsoleDone act(const std::string& verb, const std::string& operand,
                  const std::optional<std::string>& userid, const std::string& by) override {
    const std::string who = bySysop(by);
    const SysopDone done = verb == "pardon"    ? pardonUser(board_, operand, who)
                           : verb == "unblock" ? unblockAddress(board_, operand, who)
                           : verb == "say"     ? sayToAll(board_, operand, who)
                           : userid            ? kickUser(board_, operand, *userid, who)
                                               : kickChannel(board_, operand, who);
    return {done.error, done.said};
  }

  std::string asset(const std::string& name) override { return consoleAsset(name); }

 private:
  // Whether IP is blocked now, asked without counting a guess.
  bool blockedNow(const std::string& ip, Throttle::Time at) {
    const std::vector<Throttle::Block> blocks = board_.throttle().blocked(at);
    return std::any_of(blocks.begin(), blocks.end(),
                       [&](const Throttle::Block& b) { return b.address == ip; });
  }

  Board& board_;
  const HostWatch& watch_;
  std::string key_;
  ConsoleFacts facts_;
  RefusalTrace refusals_;
};

// The console, its host and the push timer, kept alive by the route.
struct Mounted {
  Mounted(Board& board, const HostWatch& watch, const ConsoleConfig& config)
      : host(board, watch, config.key),
        console(std::make_shared<Console>(
            host, config.now ? config.now : [] { return std::chrono::steady_clock::now(); })),
        timer(board.io()),
        board(board) {}
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

HttpRoute consoleRoute(Board& board, const HostWatch& watch, const ConsoleConfig& config) {
  auto mounted = std::make_shared<Mounted>(board, watch, config);
  armPush(mounted);
  return [mounted](const HttpRequest& request) { return mounted->console->answer(request); };
}

}  // namespace board
