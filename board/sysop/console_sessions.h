// The sysop's console sessions: a random token (the cookie) and a CSRF
// token per signed-in sysop, at most 16, each ending after 30 minutes
// unused. The clock is handed in, so a test can move it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace board {

inline constexpr std::size_t kConsoleSessions = 16;
inline constexpr std::chrono::minutes kConsoleIdle{30};

class ConsoleSessions {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  struct Session {
    std::string userid;
    std::string csrf;
    std::chrono::steady_clock::time_point used;
  };
  explicit ConsoleSessions(Clock now) : now_(std::move(now)) {}

  // A new session's token, or nothing when 16 are open (lapsed ones are
  // dropped first).
  std::optional<std::string> open(const std::string& userid);
  // The live session of TOKEN, its time of use moved to now; null when
  // there is none or it has lapsed (then forgotten).
  const Session* use(const std::string& token);
  // The session without touching it, for a stream that only watches.
  const Session* peek(const std::string& token);
  void close(const std::string& token) { sessions_.erase(token); }
  void closeAll() { sessions_.clear(); }
  std::size_t size() const { return sessions_.size(); }

 private:
  void dropLapsed();
  Clock now_;
  std::map<std::string, Session> sessions_;
};

// 32 random bytes from libsodium, as 64 hex digits.
std::string randomToken();

}  // namespace board
