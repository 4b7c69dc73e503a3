// Console sessions kept in memory only: a board that stops forgets them,
// so every sysop signs in again after a restart.
#include "board/sysop/console_sessions.h"

#include <sodium.h>

#include <array>

namespace board {

std::string randomToken() {
  std::array<unsigned char, 32> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, 65> hex{};
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  return std::string(hex.data(), 64);
}

void ConsoleSessions::dropLapsed() {
  const auto now = now_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second.used >= kConsoleIdle ? sessions_.erase(it) : std::next(it);
  }
}

std::optional<std::string> ConsoleSessions::open(const std::string& userid) {
  dropLapsed();
  if (sessions_.size() >= kConsoleSessions) return std::nullopt;
  std::string token = randomToken();
  sessions_[token] = Session{userid, randomToken(), now_()};
  return token;
}

const ConsoleSessions::Session* ConsoleSessions::peek(const std::string& token) {
  const auto it = sessions_.find(token);
  if (it == sessions_.end()) return nullptr;
  if (now_() - it->second.used >= kConsoleIdle) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

const ConsoleSessions::Session* ConsoleSessions::use(const std::string& token) {
  Session* s = const_cast<Session*>(peek(token));
  if (s) s->used = now_();
  return s;
}

}  // namespace board
